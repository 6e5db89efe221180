#pragma once
// Builds Standard MIDI Files in memory for tests and tools: tracks of timed events, written with
// exact delta times, running status where asked, and any raw bytes a test needs.

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

class SmfWriter {
public:
    explicit SmfWriter(uint16_t division = 480, uint16_t format = 1) : division_(division), format_(format) { track(); }

    // Starts a new track; later events go into it.
    SmfWriter& track() {
        if (!tracks_.empty()) flushPendingBefore(UINT32_MAX);
        tracks_.emplace_back();
        lastTicks_ = 0;
        return *this;
    }
    SmfWriter& on(uint32_t ticks, uint8_t pitch, uint8_t velocity = 100, uint8_t channel = 0) {
        return event(ticks, {static_cast<uint8_t>(0x90 | channel), pitch, velocity});
    }
    SmfWriter& off(uint32_t ticks, uint8_t pitch, uint8_t channel = 0) {
        return event(ticks, {static_cast<uint8_t>(0x80 | channel), pitch, 0});
    }
    SmfWriter& note(uint32_t ticks, uint32_t length, uint8_t pitch, uint8_t velocity = 100, uint8_t channel = 0) {
        pending_.push_back({ticks + length, pitch, channel});
        flushPendingBefore(ticks);
        on(ticks, pitch, velocity, channel);
        return *this;
    }
    SmfWriter& controller(uint32_t ticks, uint8_t number, uint8_t value, uint8_t channel = 0) {
        return event(ticks, {static_cast<uint8_t>(0xB0 | channel), number, value});
    }
    SmfWriter& program(uint32_t ticks, uint8_t number, uint8_t channel = 0) {
        return event(ticks, {static_cast<uint8_t>(0xC0 | channel), number});
    }
    SmfWriter& tempo(uint32_t ticks, uint32_t microsecondsPerQuarter) {
        return event(ticks, {0xFF, 0x51, 0x03, static_cast<uint8_t>(microsecondsPerQuarter >> 16),
                             static_cast<uint8_t>(microsecondsPerQuarter >> 8),
                             static_cast<uint8_t>(microsecondsPerQuarter)});
    }
    SmfWriter& text(uint32_t ticks, uint8_t metaType, const std::string& body) {
        std::vector<uint8_t> bytes = {0xFF, metaType};
        appendVarLen(bytes, static_cast<uint32_t>(body.size()));
        bytes.insert(bytes.end(), body.begin(), body.end());
        return event(ticks, bytes);
    }
    SmfWriter& sysex(uint32_t ticks, const std::vector<uint8_t>& body) {
        std::vector<uint8_t> bytes = {0xF0};
        appendVarLen(bytes, static_cast<uint32_t>(body.size()));
        bytes.insert(bytes.end(), body.begin(), body.end());
        return event(ticks, bytes);
    }
    // Any bytes after the delta time, e.g. running-status data without a status byte.
    SmfWriter& event(uint32_t ticks, const std::vector<uint8_t>& bytes) {
        flushPendingBefore(ticks);
        auto& t = tracks_.back();
        appendVarLen(t, ticks - lastTicks_);
        t.insert(t.end(), bytes.begin(), bytes.end());
        lastTicks_ = ticks;
        return *this;
    }

    // Bytes written into the track as they are, delta time included (e.g. a five-byte delta); the
    // delta of the next timed event still counts from the last timed one.
    SmfWriter& raw(const std::vector<uint8_t>& bytes) {
        auto& t = tracks_.back();
        t.insert(t.end(), bytes.begin(), bytes.end());
        return *this;
    }

    // Writes the file; false when it cannot be written.
    bool save(const std::string& path) {
        const std::string data = bytes();
        FILE* out = std::fopen(path.c_str(), "wb");
        if (!out) return false;
        const bool written = std::fwrite(data.data(), 1, data.size(), out) == data.size();
        return std::fclose(out) == 0 && written;
    }

    std::string bytes() {
        flushPendingBefore(UINT32_MAX);
        std::string out = "MThd";
        appendU32(out, 6);
        appendU16(out, format_);
        appendU16(out, static_cast<uint16_t>(tracks_.size()));
        appendU16(out, division_);
        for (const auto& t : tracks_) {
            out += "MTrk";
            appendU32(out, static_cast<uint32_t>(t.size() + 4));
            out.append(t.begin(), t.end());
            out.append("\x00\xFF\x2F\x00", 4);  // end of track
        }
        return out;
    }

    static void appendVarLen(std::vector<uint8_t>& out, uint32_t value) {
        uint8_t groups[5];
        int n = 0;
        do {
            groups[n++] = value & 0x7F;
            value >>= 7;
        } while (value);
        while (n > 1) out.push_back(static_cast<uint8_t>(groups[--n] | 0x80));
        out.push_back(groups[0]);
    }

private:
    struct PendingOff {
        uint32_t ticks;
        uint8_t pitch, channel;
    };
    // Note-offs queued by note() are written in time order before any later event.
    void flushPendingBefore(uint32_t ticks) {
        for (;;) {
            std::size_t best = pending_.size();
            for (std::size_t i = 0; i < pending_.size(); ++i)
                if (pending_[i].ticks <= ticks && (best == pending_.size() || pending_[i].ticks < pending_[best].ticks)) best = i;
            if (best == pending_.size()) return;
            const PendingOff p = pending_[best];
            pending_.erase(pending_.begin() + static_cast<long>(best));
            auto& t = tracks_.back();
            appendVarLen(t, p.ticks - lastTicks_);
            t.push_back(static_cast<uint8_t>(0x80 | p.channel));
            t.push_back(p.pitch);
            t.push_back(0);
            lastTicks_ = p.ticks;
        }
    }
    static void appendU32(std::string& out, uint32_t v) {
        for (int s = 24; s >= 0; s -= 8) out.push_back(static_cast<char>((v >> s) & 0xFF));
    }
    static void appendU16(std::string& out, uint16_t v) {
        out.push_back(static_cast<char>(v >> 8));
        out.push_back(static_cast<char>(v & 0xFF));
    }

    uint16_t division_;
    uint16_t format_;
    std::vector<std::vector<uint8_t>> tracks_;
    std::vector<PendingOff> pending_;
    uint32_t lastTicks_ = 0;
};
