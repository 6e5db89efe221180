#pragma once
// The words and numbers of the settings files (the configuration and a song's metadata): read from
// the file's text, independent of the process's locale, never past its end.

#include <cstddef>
#include <cstdint>
#include <string>

// Reads the whole file; false when it cannot be opened.
bool readSettingsFile(const std::string& path, std::string& text);

// A number read as "%d" reads it: the low 32 bits.
inline int32_t asInt(int64_t value) { return static_cast<int32_t>(static_cast<uint32_t>(value)); }

// A failed number read leaves the text where it was, so that the word is read as the next token.
struct TextCursor {
    static constexpr std::size_t tokenLength = 20;
    static constexpr std::size_t lineLength = 999;

    const char* p;
    const char* end;

    void skipSpace();
    // The next blank-separated word of at most 20 characters; a longer word is split, its remainder
    // being the next token.
    bool token(std::string& out);
    // A decimal integer; values beyond 64 bits saturate.
    bool integer(int64_t& value);
    bool real(double& value);
    // The rest of the current line, up to 999 characters (the rest of a longer line stays to be
    // read), without its line end (a Windows one too) and leading blanks; false at the end of the
    // text. What follows a zero byte is no part of the value, as for any C string.
    bool restOfLine(std::string& value);
};
