#include "app/Log.h"

#include <atomic>
#include <cctype>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <mutex>
#include <string>
#include <utility>

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

// A load of a pathological song could log gigabytes; past this much a batch is written out early.
constexpr std::size_t batchLimit = std::size_t{16} << 20;

// The lines of this thread's open batches, and how many are open.
struct Collected {
    int depth = 0;
    std::string text;
};
thread_local Collected collected;

std::string logPath() { return startDirectory + "/" + "NolariLog.txt"; }

void writeOut(std::string& text) {
    if (text.empty()) return;
    {
        std::lock_guard<std::mutex> guard(logLock());
        if (FILE* file = std::fopen(logPath().c_str(), "a")) {
            std::fwrite(text.data(), 1, text.size(), file);
            std::fclose(file);
        }
    }
    text.clear();
}

void appendFormatted(std::string& text, const char* format, va_list args) {
    char line[256];
    va_list again;
    va_copy(again, args);
    const int length = std::vsnprintf(line, sizeof line, format, args);
    if (length >= 0 && static_cast<std::size_t>(length) < sizeof line) {
        text.append(line, static_cast<std::size_t>(length));
    } else if (length > 0) {
        const std::size_t at = text.size();
        text.resize(at + static_cast<std::size_t>(length) + 1);
        std::vsnprintf(&text[at], static_cast<std::size_t>(length) + 1, format, again);
        text.resize(at + static_cast<std::size_t>(length));
    }
    va_end(again);
}

void collectEntry(bool stamped, const char* format, va_list args) {
    std::string& text = collected.text;
    if (stamped) {
        // The time stamp buffer is shared with the other threads' lines.
        std::lock_guard<std::mutex> guard(logLock());
        text.append(logTimestamp()).append(": ");
    }
    appendFormatted(text, format, args);
    if (stamped && !endsInLineEnd(format)) text.push_back('\n');
    if (text.size() >= batchLimit) writeOut(text);
}

void writeEntry(bool stamped, const char* format, va_list args) {
    if (logMuted) return;
    if (collected.depth > 0) {
        collectEntry(stamped, format, args);
        return;
    }
    std::lock_guard<std::mutex> guard(logLock());
    FILE* file = std::fopen(logPath().c_str(), "a");
    if (!file) return;
    if (stamped) std::fprintf(file, "%s: ", logTimestamp());
    std::vfprintf(file, format, args);
    if (stamped && !endsInLineEnd(format)) std::fputc('\n', file);
    std::fclose(file);
}

}  // namespace

void logText(std::string_view text) {
    if (logMuted) return;
    if (collected.depth == 0) {
        std::string line(text);
        writeOut(line);
        return;
    }
    collected.text.append(text);
    if (collected.text.size() >= batchLimit) writeOut(collected.text);
}

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
    // The lines collected so far come first, and the exit's own lines are written at once.
    writeOut(collected.text);
    collected.depth = 0;
    va_list args;
    va_start(args, format);
    writeEntry(true, format, args);
    va_end(args);
    exitProcess(1);
}

LogBatch::LogBatch() { ++collected.depth; }

LogBatch::~LogBatch() {
    if (collected.depth > 0 && --collected.depth == 0) writeOut(collected.text);
}

std::string LogBatch::take() { return std::exchange(collected.text, {}); }
