// Event output and note tracking: song events become MIDI messages under the song's channel
// options, and every note started is remembered so that all of them can be ended at any moment.

#include <algorithm>
#include <cstdio>
#include <cstdarg>
#include <thread>

#include "app/Log.h"
#include "app/Nolari.h"
#include "song/Meta.h"

namespace {

constexpr uint8_t channel16 = 15;

}  // namespace

void Nolari::engineLog(const char* format, ...) {
    va_list args;
    va_start(args, format);
    if (std::this_thread::get_id() != guiThread) {
        threadLog.post(format, args);
    } else {
        char line[LogQueue::lineSize];
        std::vsnprintf(line, sizeof line, format, args);
        logMessage("%s", line);
    }
    va_end(args);
}

void Nolari::trackNoteOn(uint8_t channel, uint8_t pitch, uint8_t velocity, double due) {
    if (sounding[channel][pitch]) engineLog("ERROR: trackNoteOn(%d, %d) already on\n", channel, pitch);
    else sounding[channel][pitch] = 1;
    output.send({static_cast<uint8_t>(0x90 | channel), pitch, velocity}, due);
}

void Nolari::trackNoteOff(uint8_t channel, uint8_t pitch, double due) {
    if (sounding[channel][pitch]) sounding[channel][pitch] = 0;
    else engineLog("ERROR: trackNoteOff(%d, %d) already off\n", channel, pitch);
    output.send({static_cast<uint8_t>(0x80 | channel), pitch, 0}, due);
}

void Nolari::playRange(Event* first, Event* end, uint8_t scaleFrom, uint8_t scaleTo, double due, Role upTo) {
    const bool forceChannelOne = meta->forceChannelOne;
    const bool chan16Mute = meta->chan16Mute;
    const bool sendPedalEvents = meta->sendPedalEvents;
    const Parts& parts = meta->parts;
    for (Event* e = first; e != end; ++e) {
        if (parts.roleOf(*e) > upTo) continue;
        const uint8_t channel = forceChannelOne ? 0 : e->chan;
        const bool muted = chan16Mute && e->chan == channel16;
        if (e->isNoteOn()) {
            if (!muted) trackNoteOn(channel, e->pitch, static_cast<uint8_t>(e->vel * scaleTo / scaleFrom), due);
        } else if (e->isNoteOff()) {
            if (!muted) trackNoteOff(channel, e->pitch, due);
        } else if (e->isSustainPedal()) {
            if (!sendPedalEvents) continue;
            for (uint8_t i = 0; i < 16; ++i) {
                if (song->channelUsed[i]) output.send({static_cast<uint8_t>(0xB0 + i), 64, e->vel}, due);
                else engineLog("skipping channel event\n");
            }
        } else if (e->isChannelEvent()) {
            output.send({static_cast<uint8_t>(channel | e->stat), e->pitch, e->vel}, due);
        } else {
            engineLog("skipping non-channel event\n");
        }
    }
}

void Nolari::allNotesOff() {
    std::lock_guard<std::recursive_mutex> guard(engineLock);
    // Nothing queued before a stop may sound after it.
    scheduler.cancel();
    followers.stop();
    output.silence();
    for (uint8_t channel = 0; channel < 16; ++channel)
        for (uint8_t pitch = 0; pitch < 128; ++pitch)
            if (sounding[channel][pitch]) trackNoteOff(channel, pitch);
}

int Nolari::soundingCount() const {
    int count = 0;
    for (const auto& channel : sounding)
        for (uint8_t flag : channel) count += flag;
    return count;
}

// Called on the GUI thread after a load or a device change, while taps from MIDI input may move
// the position and send on the same output.
void Nolari::sendProgramChanges() {
    std::lock_guard<std::recursive_mutex> guard(engineLock);
    uint8_t program[16] = {};
    const uint32_t end = std::min<uint32_t>(static_cast<uint32_t>(position), song->numEvents);
    for (uint32_t i = 0; i < end; ++i) {
        const Event& e = song->events[i];
        if (e.isProgramChange()) program[e.chan] = e.pitch;
    }
    for (uint8_t channel = 0; channel < 16; ++channel) output.send({static_cast<uint8_t>(0xC0 | channel), program[channel], 0});
}

void Nolari::playScheduled(uint32_t event, double due) {
    if (event == listenBatchMark) {
        if (listening && hasSong()) queueListenBatch();
        return;
    }
    if (event == listenEndMark) {
        if (listening) stopListening();
        return;
    }
    if (!hasSong() || event >= song->numEvents) return;
    followers.played(event);
    if (listening) listenPlayed = static_cast<int32_t>(event + 1);
    Event* e = &song->events[event];
    playRange(e, e + 1, 127, 127, due);
}
