#pragma once
// What every fuzz target shares: an input is read from memory and its log lines are dropped, so
// that no file is written per input; a broken promise aborts, so that libFuzzer keeps the input.

#include <cstdint>
#include <cstdio>
#include <string_view>

#include "app/Log.h"
#include "app/Nolari.h"

// Nothing is meant to reach the disk; should a line escape its batch, it is lost rather than
// written into the working directory.
extern "C" int LLVMFuzzerInitialize(int*, char***) {
    startDirectory = "/nonexistent/nolari-fuzz";
    return 0;
}

// Collects the lines one input logs and drops them.
class QuietInput {
public:
    ~QuietInput() { batch_.take(); }

private:
    LogBatch batch_;
};

inline std::string_view asText(const uint8_t* data, size_t size) {
    return {reinterpret_cast<const char*>(data), size};
}

// Aborts, so that libFuzzer reports the input, when a promise of the loaded song is broken; the
// broken promise is named on the error output.
[[noreturn]] inline void broken(const char* promise, const char* file, int line) {
    std::fprintf(stderr, "%s:%d: broken promise: %s\n", file, line, promise);
    std::abort();
}
#define REQUIRE(promise) ((promise) ? (void)0 : broken(#promise, __FILE__, __LINE__))
