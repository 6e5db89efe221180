#pragma once
// The parts Nolari plays while the performer taps another: at each tap the Follow events from the
// tapped group's song time up to the next group's are handed to the scheduler, each due when the
// tempo tracker predicts the performer will reach its song time. Events at the tapped group's own
// time sound with the tap.
//
// A late performer: the followers stop at the next group's song time and wait for its tap. An
// early one: the Follow events still waiting are sent at once, in order, before the new group,
// so that none is lost and every Follow Note On meets its Note Off.
//
// A passage begins at a tap that does not continue from the one before (after a load, a jump, a
// silence that moved nothing is not one). Its Follow events before the tapped group, an intro the
// performer did not wait for, are skipped silently; their controllers and program changes are
// sent, so the parts sound as they should from the group on. A count-in (leadIn) plays them in
// time instead, leading up to the group. The tempo goes on through a silence and round the loop;
// a load, a jump or a pause starts it afresh at the start tempo.
//
// Handing over a long stretch (the last group's up to the song's end) goes in batches, as
// listening does: a mark in the scheduler half-way through a batch asks for the next, so that the
// followers never hold more than about a batch and a half of the queue, however many notes sound
// together.
//
// Called with the engine lock held; nothing allocates.

#include <cstdint>

#include "app/LogQueue.h"
#include "perform/Scheduler.h"
#include "perform/TempoTracker.h"
#include "song/Parts.h"

class Followers {
public:
    // Scheduled in place of an event: hand over the next batch.
    static constexpr uint32_t batchMark = UINT32_MAX - 2;
    // Events looked at per batch.
    static constexpr uint32_t batch = 256;

    // How an event is sent at once: the scheduler's own player, with due 0.
    Followers(Scheduler& scheduler, Scheduler::Player player, void* context, LogQueue& log)
        : scheduler_(scheduler), player_(player), context_(context), log_(log) {}

    // A tap at wall-clock time tapTime from event `from` (the position) that plays the group
    // beginning at `group` (null at the end of the song), followed by the group at `next` (null
    // for the last group). With every part played only the tempo is followed (for the metronome).
    void tap(const Song& song, const Parts& parts, uint32_t from, const Event* group, const Event* next,
             double tapTime);
    // A count-in: a new passage whose Follow events from `from` up to the group are handed over in
    // time for the group to fall at groupWall, at the start tempo. The next tap continues it.
    void leadIn(const Song& song, const Parts& parts, uint32_t from, const Event* group, double groupWall);
    // The song time of the first Follow event from `from` up to the group; the group's when none.
    double introStart(const Song& song, const Parts& parts, uint32_t from, const Event* group) const;
    // The scheduler played this event.
    void played(uint32_t event) {
        if (pendingCount_ > 0 && pending_[pendingFirst_] == event) {
            pendingFirst_ = (pendingFirst_ + 1) % maxPending;
            --pendingCount_;
        }
    }
    // The scheduler reached the batch mark at `now`.
    void nextBatch(const Song& song, const Parts& parts, double now);
    // The scheduler's queue was emptied and the output silenced: what was handed over is
    // forgotten; the tempo is kept for a tap that continues.
    void stop();
    // A new passage: the tempo starts again, at startRatio (wall seconds per song second).
    void forget(double startRatio);
    // The loop went round: the next tap plays `group`, songDistance earlier in the song than the
    // tempo counts it, and keeps the tempo.
    void wrap(const Event* group, double songDistance);

    const TempoTracker& tracker() const { return tracker_; }
    // The prediction ahead, in song time.
    const TimeLine& line() const { return line_; }

private:
    static constexpr uint32_t maxPending = 4 * batch;

    // The passage starts at the group: returns the first event to hand over.
    uint32_t startPassage(const Song& song, const Parts& parts, uint32_t from, const Event* group);
    // Empties the scheduler and the ring of waiting events; the count of them, from `first` on.
    uint32_t takePending(uint32_t& first);
    void sendPendingNow();
    // The performer did not wait for the count-in: its waiting events are dropped but for their
    // controllers and the ends of notes already sounding.
    void abandonLeadIn(const Song& song);
    void handOver(const Song& song, const Parts& parts, double atOnceUpTo, double now);
    bool queue(uint32_t event, double due);
    // A Note Off whose Note On this passage never played.
    bool endsUnplayedNote(const Event& e) const;
    void post(const char* format, ...) __attribute__((format(printf, 2, 3)));

    Scheduler& scheduler_;
    Scheduler::Player player_;
    void* context_;
    LogQueue& log_;
    TempoTracker tracker_;
    // Song time plus this is the tempo's song time: it grows by the passage's length at each lap
    // of the loop.
    double songOffset_ = 0.0;
    TimeLine line_;
    // The group the next tap continues the tempo with; any other group begins afresh.
    const Event* expected_ = nullptr;
    // A passage is being handed over, from passageStart_: next from handedTo_, up to the song time
    // limit_.
    bool handing_ = false;
    uint32_t passageStart_ = 0;
    uint32_t handedTo_ = 0;
    double limit_ = 0.0;
    // A count-in's events are handed over, up to the group.
    bool leading_ = false;
    // Events queued and not yet played, in order.
    uint32_t pending_[maxPending] = {};
    uint32_t pendingFirst_ = 0;
    uint32_t pendingCount_ = 0;
};
