#pragma once
// What every fuzz target shares: an input is read from memory and logs nothing, so that no file
// is written per input; a broken promise aborts, so that libFuzzer keeps the input.

#include <cstdint>
#include <cstdio>
#include <string_view>

#include "app/Log.h"
#include "app/Nolari.h"

// No input writes a log line: the log is muted from the start, which also spares formatting the
// lines; the starting directory leads nowhere, should anything else try to write there.
extern "C" int LLVMFuzzerInitialize(int*, char***) {
    startDirectory = "/nonexistent/nolari-fuzz";
    muteLog(true);
    return 0;
}

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
