#pragma once
// The take: every message sent to the output, kept with its time on the program's clock, from the
// first note played after a song is loaded or a take is saved, which it begins with the state of
// every channel the messages before had set. It is the output's listener.
//
// Appending happens on whichever thread sends (the MIDI-input thread included), so it allocates
// nothing: messages go into fixed blocks allocated ahead by the GUI thread's timer. When no room
// is left the take stops recording until it is handed over. The recorder's state is guarded by
// the engine lock. The engine's senders (taps, releases, MIDI-input pass-through, listening, the
// scheduler, allNotesOff, sendProgramChanges) hold it already, so the listener's own lock is an
// uncontended re-entry; it is taken anyway for senders on the GUI thread that do not hold it
// (Local Control at a device change, which the take leaves out before locking).

#include <cstdint>
#include <memory>
#include <mutex>
#include <vector>

#include "midi/ChannelState.h"
#include "midi/Output.h"

struct TakeMessage {
    double time = 0.0;
    Message message;
};

// A take handed over for writing: its messages in the order they were sent, and when it ended
// (the hand-over, or the moment it stopped recording when it ran out of room).
struct Take {
    std::vector<TakeMessage> messages;
    double end = 0.0;
    bool empty() const { return messages.empty(); }
};

class TakeRecorder {
public:
    using Clock = double (*)();

    static constexpr uint32_t defaultBlockMessages = 4096;
    // 1024 blocks of 4096 messages of 16 bytes: 64 MiB, some days of playing.
    static constexpr uint32_t defaultMaxBlocks = 1024;

    TakeRecorder(Clock clock, std::recursive_mutex& engineLock, uint32_t blockMessages = defaultBlockMessages,
                 uint32_t maxBlocks = defaultMaxBlocks);
    TakeRecorder(const TakeRecorder&) = delete;
    TakeRecorder& operator=(const TakeRecorder&) = delete;

    // The output's listener; context is the recorder.
    static void listen(void* recorder, const Message& message, double due);
    // Appends a message sent now (due 0) or due at a time on the program's clock.
    void record(const Message& message, double due);

    // GUI thread, from the timer: allocates the next block while the take still has a block's
    // room, and logs once that the take stopped recording.
    void tick();
    // GUI thread: the take so far, copied out under the engine lock; a new take begins.
    Take handOver();

    uint32_t size() const;
    bool stopped() const;

private:
    void begin(double time);
    bool append(double time, const Message& message);
    uint32_t capacity() const { return blockCount_ * blockMessages_; }
    TakeMessage& at(uint32_t i) { return blocks_[i / blockMessages_][i % blockMessages_]; }

    Clock clock_;
    std::recursive_mutex& engineLock_;
    const uint32_t blockMessages_;
    const uint32_t maxBlocks_;
    // A table of maxBlocks_ entries made once, so that adding a block never moves it.
    std::unique_ptr<std::unique_ptr<TakeMessage[]>[]> blocks_;
    uint32_t blockCount_ = 0;
    uint32_t count_ = 0;
    // The take has begun: a note was played since the last hand-over.
    bool taking_ = false;
    bool stopped_ = false;
    bool stopLogged_ = false;
    double stoppedAt_ = 0.0;
    // The state a new take starts with: what the messages sent so far set on each channel.
    ChannelState state_;
};
