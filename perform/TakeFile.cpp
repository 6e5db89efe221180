#include "perform/TakeFile.h"

#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <initializer_list>
#include <strings.h>

#include "app/AtomicSave.h"
#include "midi/MessageKinds.h"

namespace {

constexpr uint16_t ticksPerQuarter = 1000;
constexpr uint32_t microsecondsPerQuarter = 1000000;
constexpr uint8_t metaEvent = 0xFF;
constexpr uint8_t trackNameMeta = 0x03;
constexpr uint8_t endOfTrackMeta = 0x2F;
constexpr uint8_t tempoMeta = 0x51;
// A delta time has at most four bytes of seven bits.
constexpr uint32_t largestDelta = 0x0FFFFFFF;

void appendBigEndian(std::string& out, uint32_t value, int bytes) {
    for (int shift = 8 * (bytes - 1); shift >= 0; shift -= 8) out.push_back(static_cast<char>((value >> shift) & 0xFF));
}

void appendVarLen(std::string& out, uint32_t value) {
    value = std::min(value, largestDelta);
    char groups[4];
    int count = 0;
    do {
        groups[count++] = static_cast<char>(value & 0x7F);
        value >>= 7;
    } while (value);
    while (count > 1) out.push_back(static_cast<char>(groups[--count] | 0x80));
    out.push_back(groups[0]);
}

// Events written in time order, each with its delta from the one before.
class Track {
public:
    void add(uint32_t ticks, std::initializer_list<uint8_t> bytes) { add(ticks, bytes.begin(), bytes.size()); }
    void add(uint32_t ticks, const uint8_t* bytes, size_t size) {
        ticks = std::max(ticks, last_);
        appendVarLen(body_, ticks - last_);
        body_.append(reinterpret_cast<const char*>(bytes), size);
        last_ = ticks;
    }
    void addText(uint8_t metaType, const std::string& text) {
        appendVarLen(body_, 0);
        body_.push_back(static_cast<char>(metaEvent));
        body_.push_back(static_cast<char>(metaType));
        appendVarLen(body_, static_cast<uint32_t>(text.size()));
        body_ += text;
    }
    uint32_t lastTicks() const { return last_; }
    const std::string& body() const { return body_; }

private:
    std::string body_;
    uint32_t last_ = 0;
};

bool isNoteOn(const Message& m) { return (m.status & 0xF0) == midi::noteOn && m.data2 > 0; }
bool isNoteOff(const Message& m) {
    return (m.status & 0xF0) == midi::noteOff || ((m.status & 0xF0) == midi::noteOn && m.data2 == 0);
}
int lengthOf(const Message& m) {
    const uint8_t kind = m.status & 0xF0;
    return kind == midi::programChange || kind == midi::channelPressure ? 2 : 3;
}

// The notes of the take, each Note On matched by a Note Off: a Note Off with no note of its pitch
// sounding (one begun before the take) is left out, and the notes still sounding are ended at the
// take's end.
void addMessages(Track& track, const Take& take, TakeFileSummary& summary) {
    std::vector<TakeMessage> messages = take.messages;
    // Timed messages may have been recorded before earlier ones sent at once.
    std::stable_sort(messages.begin(), messages.end(),
                     [](const TakeMessage& a, const TakeMessage& b) { return a.time < b.time; });
    const double start = messages.front().time;
    const auto ticksAt = [start](double time) {
        return static_cast<uint32_t>(std::min<double>(std::llround(std::max(0.0, time - start) * 1000), largestDelta));
    };
    uint16_t sounding[16][128] = {};
    for (const TakeMessage& recorded : messages) {
        const Message& m = recorded.message;
        const uint8_t channel = m.status & 0x0F;
        const uint32_t ticks = ticksAt(recorded.time);
        if (isNoteOff(m)) {
            if (sounding[channel][m.data1] == 0) continue;
            --sounding[channel][m.data1];
            track.add(ticks, {static_cast<uint8_t>(midi::noteOff | channel), m.data1, 0});
            continue;
        }
        if (isNoteOn(m)) {
            ++sounding[channel][m.data1];
            ++summary.notes;
        }
        const uint8_t bytes[3] = {m.status, m.data1, m.data2};
        track.add(ticks, bytes, static_cast<size_t>(lengthOf(m)));
    }
    const uint32_t end = std::max(ticksAt(take.end), track.lastTicks());
    for (uint8_t channel = 0; channel < 16; ++channel)
        for (uint8_t pitch = 0; pitch < 128; ++pitch)
            for (; sounding[channel][pitch] > 0; --sounding[channel][pitch])
                track.add(end, {static_cast<uint8_t>(midi::noteOff | channel), pitch, 0});
}

bool isNumberedTake(const std::string& name, const std::string& prefix) {
    const std::string suffix = ".mid";
    if (name.size() <= prefix.size() + suffix.size() || !name.starts_with(prefix) || !name.ends_with(suffix)) return false;
    const std::string number = name.substr(prefix.size(), name.size() - prefix.size() - suffix.size());
    return std::all_of(number.begin(), number.end(), [](char c) { return c >= '0' && c <= '9'; });
}

}  // namespace

std::string withoutMidiExtension(const std::string& path) {
    const std::string name = fileNameOf(path);
    for (const std::string extension : {".mid", ".midi"}) {
        const size_t length = extension.size();
        if (name.size() >= length && strcasecmp(name.c_str() + name.size() - length, extension.c_str()) == 0)
            return path.substr(0, path.size() - length);
    }
    return path;
}

std::string takeFileBytes(const Take& take, const std::string& trackName, TakeFileSummary& summary) {
    summary = {};
    Track track;
    track.addText(trackNameMeta, trackName);
    track.add(0, {metaEvent, tempoMeta, 3, microsecondsPerQuarter >> 16, (microsecondsPerQuarter >> 8) & 0xFF,
                  microsecondsPerQuarter & 0xFF});
    if (!take.empty()) addMessages(track, take, summary);
    track.add(track.lastTicks(), {metaEvent, endOfTrackMeta, 0});
    summary.seconds = track.lastTicks() / 1000.0;

    std::string file = "MThd";
    appendBigEndian(file, 6, 4);
    appendBigEndian(file, 0, 2);  // format 0
    appendBigEndian(file, 1, 2);  // one track
    appendBigEndian(file, ticksPerQuarter, 2);
    file += "MTrk";
    appendBigEndian(file, static_cast<uint32_t>(track.body().size()), 4);
    file += track.body();
    return file;
}

bool writeTakeFile(const std::string& path, const Take& take, const std::string& trackName, TakeFileSummary& summary) {
    const std::string bytes = takeFileBytes(take, trackName, summary);
    AtomicSave save(path);
    if (!save.out()) return false;
    std::fwrite(bytes.data(), 1, bytes.size(), save.out());
    return save.commit();
}

std::string nextTakePath(const std::string& songPath, int& number) {
    const std::string base = withoutMidiExtension(songPath) + "-take-";
    for (number = 1;; ++number) {
        const std::string path = base + std::to_string(number) + ".mid";
        if (access(path.c_str(), F_OK) != 0) return path;
    }
}

std::string newestTakePath(const std::string& songPath) {
    namespace fs = std::filesystem;
    const fs::path base = withoutMidiExtension(songPath) + "-take-";
    const std::string prefix = base.filename().string();
    std::string newest;
    fs::file_time_type newestTime;
    std::error_code error;
    const fs::path folder = base.has_parent_path() ? base.parent_path() : ".";
    for (fs::directory_iterator entry(folder, error), end; !error && entry != end; entry.increment(error)) {
        if (!isNumberedTake(entry->path().filename().string(), prefix)) continue;
        std::error_code unreadable;
        const fs::file_time_type time = entry->last_write_time(unreadable);
        if (!unreadable && (newest.empty() || time > newestTime)) {
            newest = entry->path().string();
            newestTime = time;
        }
    }
    return newest;
}

std::string fileNameOf(const std::string& path) {
    const size_t slash = path.rfind('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}
