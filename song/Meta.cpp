#include "song/Meta.h"

#include <algorithm>
#include <array>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <limits>
#include <string>
#include <utility>
#include <vector>

#include "app/AtomicSave.h"
#include "app/Log.h"
#include "app/SettingsText.h"
#include "song/Song.h"

namespace {

constexpr uint32_t maxMarkers = 12;
constexpr int numBins = 1000;
constexpr int searchedBins = 100;
constexpr int defaultCutoff = 20;
constexpr int64_t maxTranspose = 24;

// "%g" as the C locale writes it, whatever locale the process runs in.
std::string formatG(double value) {
    char text[64];
    const auto result = std::to_chars(text, text + sizeof text, value, std::chars_format::general, 6);
    return std::string(text, result.ptr);
}

// A file written for another version of the song may name events it does not have: they become
// its last event.
uint32_t withinSong(const Song& song, uint32_t index) {
    const uint32_t last = song.numEvents > 0 ? song.numEvents - 1 : 0;
    return index < last ? index : last;
}

struct FlagTag {
    const char* tag;
    bool Meta::*field;
    const char* error;
};

const FlagTag flagTags[] = {
    {"CHAN16MUTE", &Meta::chan16Mute, "ERROR: CHAN16MUTE meta tag not followed by flag\n"},
    {"SENDPEDALEVENTS", &Meta::sendPedalEvents, "ERROR: SENDPEDALEVENTS meta tag not followed by flag\n"},
    {"SENDSYSTEMEXCLUSIVE", &Meta::sendSystemExclusive, "ERROR: SENDSYSTEMEXCLUSIVE meta tag not followed by flag\n"},
    {"HARMONICCOLORING", &Meta::harmonicColoring, "ERROR: HARMONICCOLORING meta tag not followed by flag\n"},
    {"LOOP", &Meta::loop, "ERROR: LOOP meta tag not followed by flag\n"},
};

void readZoom(Meta& meta, TextCursor& in) {
    double zoom;
    // Kept as read, however odd: the views bound the span they draw, the file keeps the value.
    if (in.real(zoom))
        meta.zoom = zoom;
    else
        logMessage("ERROR: ZOOM meta tag not followed zoom scope\n");
}

void readPosition(Meta& meta, const Song& song, TextCursor& in) {
    int64_t value = 0;
    if (in.integer(value))
        meta.position = withinSong(song, static_cast<uint32_t>(asInt(value)));
    else
        logMessage("ERROR: POSITION meta tag not followed by position value\n");
}

void readForceChannelOne(Meta& meta, TextCursor& in) {
    int64_t value = 0;
    const bool read = in.integer(value);
    meta.forceChannelOne = read && asInt(value) == 1;
    if (!read || (asInt(value) != 0 && asInt(value) != 1))
        logMessage("ERROR: FORCE_CHANNEL_ONE meta tag not followed by 0 or 1\n");
}

void readListenSpeed(Meta& meta, TextCursor& in) {
    int64_t value = 0;
    const bool read = in.integer(value);
    for (int speed : listenSpeeds) {
        if (!read || asInt(value) != speed) continue;
        meta.listenSpeed = speed;
        return;
    }
    logMessage("ERROR: LISTENSPEED meta tag not followed by 50, 75, 100 or 125\n");
}

void readTranspose(Meta& meta, TextCursor& in) {
    int64_t value = 0;
    if (in.integer(value) && value >= -maxTranspose && value <= maxTranspose)
        meta.transpose = static_cast<int>(value);
    else
        logMessage("ERROR: TRANSPOSE meta tag not followed by -24 ... 24\n");
}

void readMetronome(Meta& meta, TextCursor& in) {
    int64_t value = 0;
    if (in.integer(value) && value >= 0 && value <= static_cast<int64_t>(MetronomeMode::On))
        meta.metronome = static_cast<MetronomeMode>(value);
    else
        logMessage("ERROR: METRONOME meta tag not followed by 0, 1 or 2\n");
}

void readMarker(Meta& meta, const Song& song, TextCursor& in) {
    int64_t value = 0;
    if (!in.integer(value)) {
        logMessage("ERROR: MARKER meta tag not followed by position\n");
        return;
    }
    if (asInt(value) < 0) {
        logMessage("ERROR: invalid MARKER (%d)\n", asInt(value));
        return;
    }
    meta.setMarker(withinSong(song, static_cast<uint32_t>(asInt(value))));
}

// The group starts a file names, applied once every tag is read, so that they start on the notes of
// the parts that play, wherever the file names the roles.
struct GroupTicks {
    bool read = false;
    std::vector<uint32_t> ticks;
};

// False when the file ends before the count is reached: the rest of the file is not read.
bool readNoteGroups(GroupTicks& groups, TextCursor& in) {
    int64_t value = 0;
    int32_t count = 0;
    if (in.integer(value))
        count = asInt(value);
    else
        logMessage("ERROR: NOTE_GROUPS meta tag not followed by count of groups\n");
    groups.read = true;
    groups.ticks.clear();
    for (int32_t i = 0; i < count; ++i) {
        if (!in.integer(value)) {
            logMessage("ERROR: NOTE_GROUPS has too few groups\n");
            return false;
        }
        groups.ticks.push_back(static_cast<uint32_t>(asInt(value)));
    }
    return true;
}

// After the first tick value that starts no group the rest are not applied.
void applyNoteGroups(Song& song, const Parts& parts, const GroupTicks& groups) {
    if (!groups.read) return;
    song.clearGroups();
    for (uint32_t ticks : groups.ticks)
        if (!song.startGroupAt(ticks, &parts)) return;
}

// The part of a track and channel as a file names them, or Parts::none.
uint32_t partNamed(const Meta& meta, int64_t track, int64_t channel) {
    if (track < 0 || track > UINT32_MAX || channel < 0 || channel > 15) return Parts::none;
    return meta.parts.find(static_cast<uint32_t>(track), static_cast<uint8_t>(channel));
}

// A word that is not a role is left for the next tag.
bool readRole(TextCursor& in, Role& role) {
    const char* before = in.p;
    std::string word;
    if (in.token(word) && (word == "FOLLOW" || word == "MUTE" || word == "PLAY")) {
        role = word == "FOLLOW" ? Role::Follow : word == "MUTE" ? Role::Mute : Role::Play;
        return true;
    }
    in.p = before;
    return false;
}

// "PART <track> <channel> FOLLOW|MUTE|PLAY", or with LOW or HIGH before the role for a half of a
// split part.
void readPart(Meta& meta, TextCursor& in) {
    int64_t track = 0, channel = 0;
    const bool numbers = in.integer(track) && in.integer(channel);
    const char* before = in.p;
    std::string word;
    const bool half = numbers && in.token(word) && (word == "LOW" || word == "HIGH");
    if (!half) in.p = before;
    Role role = Role::Play;
    if (!numbers || !readRole(in, role)) {
        logMessage("ERROR: PART meta tag not followed by track, channel and FOLLOW or MUTE\n");
        return;
    }
    const uint32_t part = partNamed(meta, track, channel);
    if (part == Parts::none)
        logMessage("ERROR: PART %d %d names no part of the song\n", asInt(track), asInt(channel));
    else if (half)
        meta.parts.setHalfRole(part, word == "LOW" ? Half::Low : Half::High, role);
    else
        meta.parts.setRole(part, role);
}

// "SPLIT <track> <channel> <pitch>": the pitch is the lowest of the upper half.
void readSplit(Meta& meta, TextCursor& in) {
    int64_t track = 0, channel = 0, pitch = 0;
    if (!in.integer(track) || !in.integer(channel) || !in.integer(pitch) || pitch < 0 || pitch > 127) {
        logMessage("ERROR: SPLIT meta tag not followed by track, channel and a pitch 0-127\n");
        return;
    }
    const uint32_t part = partNamed(meta, track, channel);
    if (part == Parts::none)
        logMessage("ERROR: SPLIT %d %d names no part of the song\n", asInt(track), asInt(channel));
    else
        meta.parts.setSplit(part, static_cast<uint8_t>(pitch));
}

// Applies one tag with its arguments; false when the rest of the file is to be left unread.
bool readTag(Meta& meta, Song& song, GroupTicks& groups, const std::string& tag, TextCursor& in) {
    int64_t value = 0;
    if (tag == "ZOOM") {
        readZoom(meta, in);
    } else if (tag == "POSITION") {
        readPosition(meta, song, in);
    } else if (tag == "FIRST_NOTE_POSITION") {
        in.integer(value);
    } else if (tag == "FORCE_CHANNEL_ONE") {
        readForceChannelOne(meta, in);
    } else if (tag == "MARKER") {
        readMarker(meta, song, in);
    } else if (tag == "LISTENSPEED") {
        readListenSpeed(meta, in);
    } else if (tag == "TRANSPOSE") {
        readTranspose(meta, in);
    } else if (tag == "METRONOME") {
        readMetronome(meta, in);
    } else if (tag == "PART") {
        readPart(meta, in);
    } else if (tag == "SPLIT") {
        readSplit(meta, in);
    } else if (tag == "NOTE_GROUPS") {
        return readNoteGroups(groups, in);
    } else {
        for (const FlagTag& flag : flagTags) {
            if (tag != flag.tag) continue;
            if (in.integer(value))
                meta.*flag.field = asInt(value) != 0;
            else
                logMessage("%s", flag.error);
            return true;
        }
        logMessage("ERROR: unexpected tag '%s' in %s\n", tag.c_str(), meta.path.c_str());
    }
    return true;
}

void writeSettings(FILE* out, const Meta& meta, uint32_t position) {
    std::fprintf(out, "ZOOM %s\n", formatG(meta.zoom).c_str());
    std::fprintf(out, "POSITION %d\n", static_cast<int>(position));
    std::fprintf(out, "CHAN16MUTE %d\n", meta.chan16Mute ? 1 : 0);
    std::fprintf(out, "SENDPEDALEVENTS %d\n", meta.sendPedalEvents ? 1 : 0);
    std::fprintf(out, "SENDSYSTEMEXCLUSIVE %d\n", meta.sendSystemExclusive ? 1 : 0);
    std::fprintf(out, "FORCE_CHANNEL_ONE %d\n", meta.forceChannelOne ? 1 : 0);
    std::fprintf(out, "HARMONICCOLORING %d\n", meta.harmonicColoring ? 1 : 0);
    for (uint32_t i = 0; i < meta.numMarkers(); ++i) std::fprintf(out, "MARKER %d\n", static_cast<int>(meta.marker(i)));
    // Written only when set, so that a song without them keeps its file as it was.
    if (meta.listenSpeed != defaultListenSpeed) std::fprintf(out, "LISTENSPEED %d\n", static_cast<int>(meta.listenSpeed));
    if (meta.loop) std::fprintf(out, "LOOP 1\n");
    if (meta.transpose != 0) std::fprintf(out, "TRANSPOSE %d\n", meta.transpose);
    if (meta.metronome != MetronomeMode::Off) std::fprintf(out, "METRONOME %d\n", static_cast<int>(meta.metronome));
}

// The roles of whole parts first, then each split with the roles of its halves; Play is never
// written, so that a song whose parts all play keeps its file as it was.
void writeParts(FILE* out, const Meta& meta, const Song& song) {
    const Parts& parts = meta.parts;
    const std::vector<uint32_t> order = parts.byTrack();
    for (uint32_t part : order) {
        if (parts.isSplit(part) || parts.role(part) == Role::Play) continue;
        const Instrument& in = song.instruments[part];
        std::fprintf(out, "PART %d %d %s\n", static_cast<int>(in.track), in.channel, roleWord(parts.role(part)));
    }
    for (uint32_t part : order) {
        if (!parts.isSplit(part)) continue;
        const Instrument& in = song.instruments[part];
        std::fprintf(out, "SPLIT %d %d %d\n", static_cast<int>(in.track), in.channel, parts.splitPitch(part));
        for (const Half half : {Half::Low, Half::High}) {
            const Role role = parts.halfRole(part, half);
            if (role == Role::Play) continue;
            std::fprintf(out, "PART %d %d %s %s\n", static_cast<int>(in.track), in.channel,
                         half == Half::Low ? "LOW" : "HIGH", roleWord(role));
        }
    }
}

// A long song has hundreds of thousands of group lines: they are formatted as "%d\n" would, into
// blocks written whole.
void writeGroups(FILE* out, const Song& song) {
    if (song.numGroups == 0) return;
    std::fprintf(out, "NOTE_GROUPS %d\n", static_cast<int>(song.numGroups));
    uint32_t found = 0;
    char block[1 << 16];
    char* end = block;
    for (uint32_t i = 0; i < song.numEvents; ++i) {
        if (!song.events[i].start) continue;
        if (block + sizeof block - end < 16) {
            std::fwrite(block, 1, static_cast<std::size_t>(end - block), out);
            end = block;
        }
        end = std::to_chars(end, block + sizeof block, static_cast<int>(song.events[i].ticks)).ptr;
        *end++ = '\n';
        ++found;
    }
    std::fwrite(block, 1, static_cast<std::size_t>(end - block), out);
    if (found != song.numGroups)
        logMessage("ERROR: Meta::save numGroupsFound(%d) != song->numGroups(%d)\n", static_cast<int>(found),
                   static_cast<int>(song.numGroups));
}

void writeMetadata(FILE* out, const Meta& meta, const Song& song, uint32_t position) {
    writeSettings(out, meta, position);
    writeParts(out, meta, song);
    writeGroups(out, song);
}

bool isPlayedNoteOn(const Event& e, const Parts& parts) { return e.isNoteOn() && parts.plays(e); }

const Event* firstNoteOn(const Song& song, const Parts& parts) {
    for (uint32_t i = 0; i < song.numEvents; ++i)
        if (isPlayedNoteOn(song.events[i], parts)) return &song.events[i];
    return nullptr;
}

// Bin d counts the successive note-ons d ticks apart; the first note-on counts in bin 0.
void countNoteDistances(const Song& song, const Parts& parts, double* bins) {
    const Event* first = firstNoteOn(song, parts);
    if (!first) return;
    uint32_t previous = first->ticks;
    for (const Event* e = first; e != song.events + song.numEvents; ++e) {
        if (!isPlayedNoteOn(*e, parts)) continue;
        const uint32_t d = e->ticks - previous;
        if (d < static_cast<uint32_t>(numBins)) bins[d] += 1;
        previous = e->ticks;
    }
}

void smooth(double* bins) {
    double y = bins[0];
    for (int i = 0; i < numBins; ++i) bins[i] = y = 0.2 * bins[i] + 0.8 * y;
    y = bins[numBins - 1];
    for (int i = numBins - 1; i >= 0; --i) bins[i] = y = 0.2 * bins[i] + 0.8 * y;
}

constexpr int kernelReach = 17;

// The sharpening kernel for offsets -17 ... 17: positive near the centre, negative on the flanks.
constexpr double kernelWeight(int offset) {
    const int k = offset < 0 ? -offset : offset;
    if (k == 0) return 3.0;
    if (k <= 5) return 0.1;
    if (k <= 7) return 0.0;
    if (k <= 12) return -0.2;
    return -0.1;
}

constexpr std::array<double, 2 * kernelReach + 1> kernel = [] {
    std::array<double, 2 * kernelReach + 1> weights{};
    for (int k = -kernelReach; k <= kernelReach; ++k) weights[k + kernelReach] = kernelWeight(k);
    return weights;
}();

// Only the first count bins are computed: the gap search reads the first hundred, the histogram
// file all of them.
void sharpenAndClamp(double* bins, int count) {
    double old[numBins];
    std::copy(bins, bins + numBins, old);
    for (int i = 0; i < count; ++i) {
        // Offsets that reach outside the bins add nothing.
        const int first = std::max(-kernelReach, i - (numBins - 1));
        const int last = std::min(kernelReach, i);
        double sum = 0;
        for (int k = first; k <= last; ++k) sum += kernel[k + kernelReach] * old[i - k];
        bins[i] = sum < 0 ? 0 : sum > 10 ? 10 : sum;
    }
}

void writeHistogram(const std::string& file, const double* bins) {
    if (file.empty()) return;
    FILE* out = std::fopen(file.c_str(), "w");
    if (!out) return;
    for (int i = 0; i < numBins; ++i) std::fprintf(out, "%s\n", formatG(bins[i]).c_str());
    std::fclose(out);
}

// Half the width of the first empty stretch after the first peak, among the smallest distances.
int gapCutoff(const double* bins) {
    int i = 0;
    while (i < searchedBins && !(bins[i] > 0)) ++i;
    while (i < searchedBins && bins[i] != 0) ++i;
    const int gapStart = i;
    while (i < searchedBins && !(bins[i] > 0)) ++i;
    if (i >= searchedBins) return defaultCutoff;
    return (i - gapStart) / 2;
}

}  // namespace

Meta::Meta() { reset(); }

void Meta::load(const std::string& songPath, Song& s) {
    LogBatch batch;
    std::string text;
    if (songPath.empty() || !readSettingsFile(songPath + ".mta", text)) {
        // Without a song file there is no file to keep the settings in, and the previous song's
        // file must not receive them.
        path = songPath.empty() ? std::string() : songPath + ".mta";
        createDefault(s);
        return;
    }
    loadFromText(songPath, s, text);
}

void Meta::loadFromText(const std::string& songPath, Song& s, std::string_view text) {
    LogBatch batch;
    reset();
    parts.attach(s);
    song = &s;
    path = songPath + ".mta";
    TextCursor in{text.data(), text.data() + text.size()};
    std::string tag;
    GroupTicks groups;
    while (in.token(tag))
        if (!readTag(*this, s, groups, tag, in)) break;
    parts.apply();
    applyNoteGroups(s, parts, groups);
}

void Meta::save(Song& s) { save(s, position); }

void Meta::save(const Song& s, uint32_t at) {
    if (path.empty()) return;
    AtomicSave save(path);
    if (!save.out()) return;
    writeMetadata(save.out(), *this, s, at);
    save.commit();
}

void Meta::write(FILE* out, const Song& s) const { writeMetadata(out, *this, s, position); }

void Meta::reset() {
    zoom = 10.0;
    position = 0;
    forceChannelOne = false;
    chan16Mute = false;
    sendPedalEvents = false;
    sendSystemExclusive = true;
    harmonicColoring = false;
    listenSpeed = defaultListenSpeed;
    loop = false;
    transpose = 0;
    metronome = MetronomeMode::Off;
    numMarkers_ = 0;
    parts.reset();
}

void Meta::createDefault(Song& s) {
    reset();
    parts.attach(s);
    song = &s;
    position = 0;
    findDefaultGroups(s);
    save(s);
}

int Meta::histogramCutoff(Song& s) { return cutoff(s, parts); }

int Meta::cutoff(const Song& s, const Parts& played) const {
    double bins[numBins] = {};
    countNoteDistances(s, played, bins);
    smooth(bins);
    sharpenAndClamp(bins, histogramFile.empty() ? searchedBins : numBins);
    writeHistogram(histogramFile, bins);
    return gapCutoff(bins);
}

void Meta::findDefaultGroups(Song& s) { regroup(s, defaultGrouping(s, parts)); }

// A group starts at the first played note-on and at every one that follows the one before it by
// more than the cutoff, which is then the first played note-on at its tick.
Regrouping Meta::defaultGrouping(const Song& s, const Parts& played) const {
    LogBatch batch;
    const int gapCutoff = cutoff(s, played);
    if (trace) logMessage("Meta::findDefaultGroups(%s), cutoff = %d\n", path.c_str(), gapCutoff);
    Regrouping grouping;
    const Event* first = firstNoteOn(s, played);
    uint32_t previous = first ? first->ticks : 0;
    for (uint32_t i = 0; i < s.numEvents; ++i) {
        const Event& e = s.events[i];
        bool starts = false;
        if (isPlayedNoteOn(e, played)) {
            starts = &e == first || e.ticks - previous > static_cast<uint32_t>(gapCutoff);
            previous = e.ticks;
        }
        if (starts) logGroupCount(++grouping.groups);
        if (starts != (e.start != 0)) grouping.flips.push_back(i);
    }
    return grouping;
}

void Meta::regroup(Song& s, const Regrouping& grouping) {
    for (uint32_t i : grouping.flips) s.events[i].start = !s.events[i].start;
    s.numGroups = grouping.groups;
}

bool Meta::isMarker(uint32_t index) const {
    for (uint32_t i = 0; i < numMarkers_; ++i)
        if (markers[i] == index) return true;
    return false;
}

void Meta::setMarker(uint32_t index) {
    if (isMarker(index)) {
        logMessage("ERROR: Meta::setMarker( %d ) already set\n", static_cast<int>(index));
        return;
    }
    if (numMarkers_ == maxMarkers) return;
    markers[numMarkers_++] = index;
    for (bool swapped = true; swapped;) {
        swapped = false;
        for (uint32_t i = 1; i < numMarkers_; ++i) {
            if (markers[i - 1] <= markers[i]) continue;
            std::swap(markers[i - 1], markers[i]);
            swapped = true;
        }
    }
    if (trace) traceMarkers("Meta::setMarker", index);
}

void Meta::clearMarker(uint32_t index) {
    uint32_t i = 0;
    while (i < numMarkers_ && markers[i] != index) ++i;
    if (i == numMarkers_) {
        logMessage("ERROR: Meta::clearMarker( %d ) not set\n", static_cast<int>(index));
        return;
    }
    for (--numMarkers_; i < numMarkers_; ++i) markers[i] = markers[i + 1];
    if (trace) traceMarkers("Meta::clearMarker", index);
}

uint32_t Meta::marker(uint32_t i) const {
    if (i >= numMarkers_) fatalError("ERROR: Meta::marker(%d) out of range\n", static_cast<int>(i));
    return markers[i];
}

void Meta::traceMarkers(const char* operation, uint32_t index) const {
    logMessage("%s(%d)\n", operation, static_cast<int>(index));
    logMessage("MARKERS: ");
    for (uint32_t i = 0; i < numMarkers_; ++i) logMessage("[%d]=%d  ", static_cast<int>(i), static_cast<int>(markers[i]));
    logMessage("\n");
}
