#pragma once
// A fresh starting directory for a test: the log, the configuration and any song files live there
// and are removed with it.

#include <cstdio>
#include <functional>
#include <string>

class TestDir {
public:
    TestDir();
    ~TestDir();
    TestDir(const TestDir&) = delete;
    TestDir& operator=(const TestDir&) = delete;

    const std::string& path() const { return path_; }
    std::string file(const std::string& name) const { return path_ + "/" + name; }
    std::string log() const { return read("NolariLog.txt"); }
    std::string read(const std::string& name) const;
    void write(const std::string& name, const std::string& text) const;
    void clearLog() const;

private:
    std::string path_;
    std::string previousStartDirectory_;
};

std::string readFile(const std::string& path);
void writeFile(const std::string& path, const std::string& bytes);
// What a writer to a FILE* writes, kept in memory.
std::string writtenText(const std::function<void(FILE*)>& write);
