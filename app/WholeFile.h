#pragma once
// Reading a whole file at once, for the song reader and the settings files.

#include <sys/types.h>

#include <cstdint>
#include <string>
#include <vector>

enum class FileRead { read, cannotOpen, notRegular, tooLarge };

// Reads the whole file when it is a regular one of at most maxBytes. A folder, a device or a pipe
// is refused before anything is read: each would fail, never end, or report a size it does not
// have. Opened without blocking, so that a pipe with no writer is refused instead of waited for.
FileRead readWholeFile(const std::string& path, std::vector<uint8_t>& data, off_t maxBytes);
FileRead readWholeFile(const std::string& path, std::string& data, off_t maxBytes);
