#pragma once
// A private starting directory for a fuzz run, so that the log and the song files stay out of the
// way; removed when the run ends. "histogram.xls" lands in the working directory: run the targets
// from a scratch directory (the corpus paths are read relative to it, so it is not changed here).

#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>

#include "app/Nolari.h"

inline const std::string& fuzzDir() {
    static const std::string path = [] {
        // Every input writes and reads files: a memory file system (TMPDIR=/dev/shm) runs faster.
        const char* tmp = std::getenv("TMPDIR");
        std::string pattern = std::string(tmp && *tmp ? tmp : "/tmp") + "/nolari-fuzz-XXXXXX";
        if (!mkdtemp(pattern.data())) std::abort();
        startDirectory = pattern;
        std::atexit([] {
            std::error_code ignored;
            std::filesystem::remove_all(startDirectory, ignored);
        });
        return pattern;
    }();
    return path;
}

// The log would grow by a line or two per input; only the latest input's lines are kept.
inline void dropLog() { std::remove((fuzzDir() + "/NolariLog.txt").c_str()); }

// Aborts, so that libFuzzer reports the input, when a promise of the loaded song is broken; the
// broken promise is named on the error output.
[[noreturn]] inline void broken(const char* promise, const char* file, int line) {
    std::fprintf(stderr, "%s:%d: broken promise: %s\n", file, line, promise);
    std::abort();
}
#define REQUIRE(promise) ((promise) ? (void)0 : broken(#promise, __FILE__, __LINE__))
