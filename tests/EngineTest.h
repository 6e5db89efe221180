#pragma once
// A main object of its own with a song built in memory, a fresh starting directory for its log,
// and the messages it sends through the recording back end.

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "app/Nolari.h"
#include "song/Meta.h"
#include "support/RecordingPlatform.h"
#include "support/SongBuilder.h"
#include "support/TestEnv.h"

inline MidiMessage noteOn(uint8_t channel, uint8_t pitch, uint8_t velocity) {
    return {static_cast<uint8_t>(0x90 | channel), pitch, velocity};
}
inline MidiMessage noteOff(uint8_t channel, uint8_t pitch) { return {static_cast<uint8_t>(0x80 | channel), pitch, 0}; }

class EngineTest : public ::testing::Test {
protected:
    EngineTest() { recording::reset(); }

    void load(const SongBuilder& builder) {
        builder.build(*n.song);
        n.songLoaded = true;
        n.position = 0;
        n.meta->position = 0;
    }
    // Sent messages so far; the record starts again empty.
    std::vector<MidiMessage> takeSent() {
        std::vector<MidiMessage> sent;
        sent.swap(recording::state().sent);
        return sent;
    }
    int resets() const { return recording::state().resets; }
    Event& event(uint32_t i) { return n.song->events[i]; }
    // How many times the text occurs in the log.
    int logCount(const std::string& text) const {
        const std::string log = dir.log();
        int count = 0;
        for (auto at = log.find(text); at != std::string::npos; at = log.find(text, at + text.size())) ++count;
        return count;
    }
    int startFlags() const {
        int count = 0;
        for (uint32_t i = 0; i < n.song->numEvents; ++i) count += n.song->events[i].start;
        return count;
    }

    TestDir dir;
    Nolari n;
};
