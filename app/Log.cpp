#include "app/Log.h"

#include <atomic>
#include <cctype>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <mutex>
#include <string>

#include "app/Nolari.h"

namespace {

std::mutex& logLock() {
    static std::mutex lock;
    return lock;
}

char timestampBuffer[32];
std::atomic<bool> logMuted{false};

const char* const weekdays[] = {"Sun", "Mon", "Tue", "Wed", "Thu", "Fri", "Sat"};
const char* const months[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                              "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};

void writeEntry(bool stamped, const char* format, va_list args) {
    if (logMuted) return;
    std::lock_guard<std::mutex> guard(logLock());
    const std::string path = startDirectory + "/" + "NolariLog.txt";
    FILE* file = std::fopen(path.c_str(), "a");
    if (!file) return;
    if (stamped) std::fprintf(file, "%s: ", logTimestamp());
    std::vfprintf(file, format, args);
    if (stamped && !endsInLineEnd(format)) std::fputc('\n', file);
    std::fclose(file);
}

}  // namespace

void muteLog(bool muted) { logMuted = muted; }

const char* logTimestamp() {
    const std::time_t now = std::time(nullptr);
    std::tm local{};
    localtime_r(&now, &local);
    std::snprintf(timestampBuffer, sizeof timestampBuffer, "%s %s %02d %02d:%02d:%02d %04d",
                  weekdays[local.tm_wday % 7], months[local.tm_mon % 12], local.tm_mday,
                  local.tm_hour, local.tm_min, local.tm_sec, local.tm_year + 1900);
    return timestampBuffer;
}

bool endsInLineEnd(const char* format) {
    for (std::size_t i = std::strlen(format); i > 0; --i) {
        const unsigned char c = static_cast<unsigned char>(format[i - 1]);
        if (c == '\n' || c == '\r') return true;
        if (!std::isspace(c)) return false;
    }
    return false;
}

void logMessage(const char* format, ...) {
    va_list args;
    va_start(args, format);
    writeEntry(false, format, args);
    va_end(args);
}

void logStamped(const char* format, ...) {
    va_list args;
    va_start(args, format);
    writeEntry(true, format, args);
    va_end(args);
}

void fatalError(const char* format, ...) {
    va_list args;
    va_start(args, format);
    writeEntry(true, format, args);
    va_end(args);
    exitProcess(1);
}
