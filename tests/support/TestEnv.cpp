#include "support/TestEnv.h"

#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>

#include "app/Nolari.h"

TestDir::TestDir() : previousStartDirectory_(startDirectory) {
    char pattern[] = "/tmp/nolari-test-XXXXXX";
    if (!mkdtemp(pattern)) throw std::runtime_error("mkdtemp failed");
    path_ = pattern;
    startDirectory = path_;
}

TestDir::~TestDir() {
    startDirectory = previousStartDirectory_;
    std::error_code ignored;
    std::filesystem::remove_all(path_, ignored);
}

std::string TestDir::read(const std::string& name) const { return readFile(file(name)); }

void TestDir::write(const std::string& name, const std::string& text) const { writeFile(file(name), text); }

void TestDir::clearLog() const { std::remove(file("NolariLog.txt").c_str()); }

std::string readFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

void writeFile(const std::string& path, const std::string& bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << bytes;
}

std::string writtenText(const std::function<void(FILE*)>& write) {
    char* buffer = nullptr;
    std::size_t size = 0;
    FILE* out = open_memstream(&buffer, &size);
    if (!out) throw std::runtime_error("open_memstream failed");
    write(out);
    std::fclose(out);
    std::string text(buffer, size);
    std::free(buffer);
    return text;
}
