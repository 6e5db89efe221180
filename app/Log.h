#pragma once
// The diagnostic log "NolariLog.txt" in the starting directory. Every call opens, appends and closes,
// so each line is on disk when the call returns; calls from the GUI and MIDI-input threads are
// serialised so that their lines never interleave.

void logMessage(const char* format, ...) __attribute__((format(printf, 1, 2)));
void logStamped(const char* format, ...) __attribute__((format(printf, 1, 2)));
[[noreturn]] void fatalError(const char* format, ...) __attribute__((format(printf, 1, 2)));

// While muted nothing is written: a command run without the window leaves no log behind.
void muteLog(bool muted);

// The local time as "Sun May 01 20:27:01 1994" (24 characters), kept in one process-wide buffer.
const char* logTimestamp();

// True when the format string ends in "\n" or "\r", possibly followed by white space.
bool endsInLineEnd(const char* format);
