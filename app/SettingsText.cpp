#include "app/SettingsText.h"

#include <algorithm>
#include <charconv>
#include <cstdlib>
#include <limits>

#include "app/WholeFile.h"

namespace {

// A settings file is a few lines, a long song's metadata some megabytes: anything beyond this is
// no settings file.
constexpr off_t maxSettingsBytes = off_t{1} << 30;

bool isSpace(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r'; }
bool isDigit(char c) { return c >= '0' && c <= '9'; }

}  // namespace

bool readSettingsFile(const std::string& path, std::string& text) {
    return readWholeFile(path, text, maxSettingsBytes) == FileRead::read;
}

void TextCursor::skipSpace() {
    while (p != end && isSpace(*p)) ++p;
}

bool TextCursor::token(std::string& out) {
    skipSpace();
    const char* start = p;
    while (p != end && !isSpace(*p) && static_cast<std::size_t>(p - start) < tokenLength) ++p;
    out.assign(start, p);
    return p != start;
}

bool TextCursor::integer(int64_t& value) {
    skipSpace();
    const char* number = p != end && *p == '+' ? p + 1 : p;
    const char* digits = number != end && *number == '-' && number == p ? number + 1 : number;
    if (digits == end || !isDigit(*digits)) return false;
    const auto [next, error] = std::from_chars(number, end, value);
    if (error == std::errc::result_out_of_range)
        value = *number == '-' ? std::numeric_limits<int64_t>::min() : std::numeric_limits<int64_t>::max();
    p = next;
    return true;
}

bool TextCursor::real(double& value) {
    skipSpace();
    const char* number = p != end && *p == '+' ? p + 1 : p;
    if (number != p && (number == end || *number == '-')) return false;
    const auto [next, error] = std::from_chars(number, end, value);
    if (next == number) return false;
    // A number beyond a double's range reads as the C library reads it: infinite or zero.
    if (error == std::errc::result_out_of_range) value = std::strtod(std::string(number, next).c_str(), nullptr);
    p = next;
    return true;
}

bool TextCursor::restOfLine(std::string& value) {
    if (p == end) return false;
    const char* start = p;
    const char* limit = static_cast<std::size_t>(end - p) > lineLength ? p + lineLength : end;
    const char* lineEnd = std::find(p, limit, '\n');
    p = lineEnd == limit ? limit : lineEnd + 1;
    const char* stop = std::find(start, p, '\0');
    while (stop != start && (stop[-1] == '\n' || stop[-1] == '\r')) --stop;
    while (start != stop && *start == ' ') ++start;
    value.assign(start, stop);
    return true;
}
