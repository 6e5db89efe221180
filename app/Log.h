#pragma once
// The diagnostic log "NolariLog.txt" in the starting directory. Every call opens, appends and closes,
// so each line is on disk when the call returns; calls from the GUI and MIDI-input threads are
// serialised so that their lines never interleave. A burst of lines (a song load) is collected by a
// LogBatch instead and appended with one open.

#include <string>
#include <string_view>

void logMessage(const char* format, ...) __attribute__((format(printf, 1, 2)));
void logStamped(const char* format, ...) __attribute__((format(printf, 1, 2)));
[[noreturn]] void fatalError(const char* format, ...) __attribute__((format(printf, 1, 2)));

// Logs text as it is, with no formatting: for a line logged very often.
void logText(std::string_view text);

// While muted nothing is written: a command run without the window leaves no log behind.
void muteLog(bool muted);

// The local time as "Sun May 01 20:27:01 1994" (24 characters), kept in one process-wide buffer.
const char* logTimestamp();

// True when the format string ends in "\n" or "\r", possibly followed by white space.
bool endsInLineEnd(const char* format);

// While one lives, the lines this thread logs are collected in memory, formatted and stamped as they
// come, and appended to the log with one open when the outermost batch ends (or when they grow
// large). Other threads' lines are written at once; a crash loses only the lines collected.
// fatalError writes the collected lines before its own. Not for the real-time threads: it allocates.
class LogBatch {
public:
    LogBatch();
    ~LogBatch();
    LogBatch(const LogBatch&) = delete;
    LogBatch& operator=(const LogBatch&) = delete;

    // Hands over the lines collected so far instead of writing them: for callers that read or
    // drop what a run would log.
    std::string take();
};
