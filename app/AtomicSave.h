#pragma once
// Saves a settings file whole or not at all: the new text goes to a temporary file beside the file
// and then takes its place. A symbolic link is written through to its target and stays a link; the
// file keeps its permissions. Where the folder takes no new file but the file itself is
// writable, the file is written in place instead.

#include <cstdio>
#include <string>

class AtomicSave {
public:
    explicit AtomicSave(const std::string& path);
    // A save not committed leaves the file as it was.
    ~AtomicSave();
    AtomicSave(const AtomicSave&) = delete;
    AtomicSave& operator=(const AtomicSave&) = delete;

    // Where the new text is written; null when neither way could open a file.
    FILE* out() const { return out_; }
    // Puts the written text in place; false when any write failed.
    bool commit();

private:
    std::string target_;
    std::string temporary_;  // empty when writing in place
    FILE* out_ = nullptr;
};
