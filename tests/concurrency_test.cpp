// The MIDI-input thread taps while the GUI thread taps, navigates, edits groups, listens, and grows
// and hands over the take, and the scheduler's thread plays what listening hands it. Run under
// ThreadSanitizer this shows the engine's entry points are serialised; in any build it checks that
// the shared state stays consistent.

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <thread>

#include "EngineTest.h"
#include "config/Cfg.h"
#include "midi/platform.h"
#include "support/SmfWriter.h"

namespace {

SongBuilder chords(int count) {
    SongBuilder song;
    for (int k = 0; k < count; ++k) {
        const double t = 0.25 * k;
        song.note(t, 0.2, 60, 100, 0, true).note(t, 0.2, 64, 80).note(t, 0.2, 67, 60);
        song.channelEvent(t + 0.1, 0xB0, 0, 64, k % 2 ? 0 : 127);
    }
    return song;
}

}  // namespace

class Concurrency : public EngineTest {};

TEST_F(Concurrency, MidiInputAndTheGuiThreadNeverInterleaveInTheEngine) {
    load(chords(200));
    n.meta->zoom = 0.5;
    n.meta->metronome = MetronomeMode::On;  // clicks from the scheduler's thread as well
    recording::state().keep = false;
    ASSERT_TRUE(n.scheduler.start());
    std::atomic<bool> done{false};

    std::thread midi([&] {
        for (int i = 0; i < 4000; ++i) {
            const uint8_t note = static_cast<uint8_t>(36 + i % 24);
            n.midiIn(0x90, note, static_cast<uint8_t>(1 + i % 127));
            n.midiIn(0xB0, 64, i % 2 ? 127 : 0);
            n.midiIn(0x80, note, 0);
        }
        done = true;
    });

    int round = 0;
    while (!done) {
        switch (round++ % 13) {
        case 0: n.tap(1, 0); break;
        case 1: n.release(1); break;
        case 2: n.nextNote(); break;
        case 3: n.previousNote(); break;
        case 4: n.forwardScreen(); break;
        case 5: n.backScreen(); break;
        case 6: n.group(); break;
        case 7: n.ungroup(); break;
        case 8: n.toggleMarker(); break;
        case 9: n.nextMarker(); n.countIn(); break;
        case 10: n.startListening(); std::this_thread::yield(); n.listenTick(); break;
        case 11: n.stopListening(); n.sendProgramChanges(); if (round % 48 == 0) n.goToStart(); break;
        case 12: n.take.tick(); if (round % 5 == 0) n.take.handOver(); break;
        }
    }
    midi.join();
    n.scheduler.stop();

    EXPECT_GE(n.position, 0);
    EXPECT_LT(n.position, static_cast<int32_t>(n.song->numEvents));
    EXPECT_EQ(n.meta->position, static_cast<uint32_t>(n.position));
    EXPECT_EQ(n.song->numGroups, static_cast<uint32_t>(startFlags()));
    int held = 0;
    for (uint8_t h : n.held) held += h;
    EXPECT_EQ(n.heldCount, held);
    n.allNotesOff();
    EXPECT_EQ(n.soundingCount(), 0);
    EXPECT_GT(recording::state().sentCount, 4000);  // the pedal messages passed through alone
}

// Listening stopped and started again at once, many times, while the scheduler's thread plays:
// each listen sends the song from the position in order, none of it twice, and nothing of it
// after its stop has returned.
TEST_F(Concurrency, ListeningStoppedAndRestartedQuicklyLosesAndRepeatsNothingThreaded) {
    SongBuilder song;
    for (int k = 0; k < 400; ++k) song.channelEvent(0.0005 * k, 0xB0, 0, 1, static_cast<uint8_t>(k % 128));
    load(song);
    n.meta->zoom = 0.5;
    ASSERT_TRUE(n.scheduler.start());
    std::vector<size_t> stops;
    for (int round = 0; round < 40; ++round) {
        n.startListening();
        std::this_thread::sleep_for(std::chrono::microseconds(round * 500 % 7000));
        std::lock_guard guard(n.engineLock);
        n.stopListening();
        stops.push_back(recording::state().sent.size());
    }
    n.startListening();
    while (n.listening) std::this_thread::sleep_for(std::chrono::milliseconds(5));
    n.scheduler.stop();

    const std::vector<MidiMessage> sent = takeSent();
    stops.push_back(sent.size());
    size_t from = 0;
    for (size_t stop : stops) {
        for (size_t i = from; i < stop; ++i)
            ASSERT_EQ(sent[i].data2, (i - from) % 128) << "listen " << &stop - &stops[0] << ", message " << i - from;
        from = stop;
    }
    EXPECT_EQ(stops.back() - stops[stops.size() - 2], 400u) << "the last listen, left to finish, played it all";
}

TEST_F(Concurrency, InputThreadLinesWaitForTheTimerInOrderAndAFullQueueCountsItsDrops) {
    constexpr int lines = LogQueue::capacity + 44;
    std::thread midi([&] {
        for (int pitch = 0; pitch < lines; ++pitch) n.trackNoteOff(static_cast<uint8_t>(pitch / 128), static_cast<uint8_t>(pitch % 128));
    });
    midi.join();
    EXPECT_EQ(dir.log(), "") << "the input thread wrote to the log file itself";
    n.threadLog.flush();
    std::string expected;
    char line[64];
    for (uint32_t pitch = 0; pitch < LogQueue::capacity; ++pitch) {
        std::snprintf(line, sizeof line, "ERROR: trackNoteOff(%u, %u) already off\n", pitch / 128, pitch % 128);
        expected += line;
    }
    expected += "ERROR: 44 log lines from the MIDI input thread were dropped\n";
    EXPECT_EQ(dir.log(), expected);
    n.threadLog.flush();
    EXPECT_EQ(dir.log(), expected) << "the count of dropped lines is logged once";
}

// midiIn must never wait while ports open and close or files are written. Here each port operation
// takes 100 ms; the GUI thread switches outputs, inputs and songs while another thread plays as a
// keyboard would, every 50 us. A call that waited for the engine lock during a switch would take at
// least one port operation; the bound allows for a busy machine's scheduling. A third thread runs
// JACK process cycles with an input event each, which never wait at all: an event met while the
// engine is busy waits for a later cycle. The distributions of both durations are printed.
TEST_F(Concurrency, MidiInNeverWaitsForPortChangesOrFileWrites) {
    for (const char* name : {"a.mid", "b.mid"}) {
        SmfWriter song;
        for (uint32_t k = 0; k < 200; ++k) song.note(k * 120, 100, static_cast<uint8_t>(60 + k % 12)).note(k * 120, 100, 40);
        ASSERT_TRUE(song.save(dir.file(name)));
    }
    recording::state().inputs = {"Keys A", "Keys B"};
    recording::state().outputs = {"Out A", "Out B"};
    recording::state().keep = false;
    n.cfg_->currentSong = dir.file("a.mid");
    n.loadCurrentSong();
    recording::state().portMicroseconds = 100000;

    std::vector<double> durations;
    durations.reserve(1 << 18);
    std::vector<double> cycles;
    cycles.reserve(1 << 16);
    recording::state().jack = &n;
    std::atomic<bool> done{false};
    std::thread jack([&] {
        const MidiMessage input[] = {noteOn(0, 84, 100), noteOff(0, 84), {0xB0, 64, 100}};
        for (uint32_t i = 0; !done && cycles.size() < cycles.capacity(); ++i) {
            const auto start = std::chrono::steady_clock::now();
            recording::cycle({{i * 37 % 256, input[i % 3]}});
            cycles.push_back(std::chrono::duration<double, std::micro>(std::chrono::steady_clock::now() - start).count());
            std::this_thread::sleep_for(std::chrono::microseconds(500));
        }
    });
    std::thread midi([&] {
        for (int i = 0; !done && durations.size() < durations.capacity(); ++i) {
            const uint8_t note = static_cast<uint8_t>(36 + i % 24);
            const uint8_t status = i % 3 == 0 ? 0x90 : i % 3 == 1 ? 0x80 : 0xB0;
            const auto start = std::chrono::steady_clock::now();
            n.midiIn(status, status == 0xB0 ? 64 : note, status == 0x80 ? 0 : 100);
            durations.push_back(std::chrono::duration<double, std::micro>(std::chrono::steady_clock::now() - start).count());
            std::this_thread::sleep_for(std::chrono::microseconds(50));
        }
    });
    for (int round = 0; round < 3; ++round) {
        n.selectMidiOut(round % 2);
        n.selectMidiIn(round % 2);
        n.cfg_->currentSong = dir.file(round % 2 ? "a.mid" : "b.mid");
        n.loadCurrentSong();
    }
    done = true;
    midi.join();
    jack.join();
    recording::state().portMicroseconds = 0;

    ASSERT_GT(durations.size(), 100u);
    ASSERT_GT(cycles.size(), 10u);
    for (auto* values : {&durations, &cycles}) {
        std::sort(values->begin(), values->end());
        const auto at = [&](double fraction) { return (*values)[static_cast<size_t>(fraction * (values->size() - 1))]; };
        std::printf("%s: %zu, median %.1f us, 99%% %.1f us, 99.9%% %.1f us, worst %.1f us\n",
                    values == &cycles ? "JACK cycles with an input event" : "midiIn calls", values->size(), at(0.5),
                    at(0.99), at(0.999), values->back());
    }
    std::printf("input events that waited for the engine: %d\n", static_cast<int>(platform::delays().waitedInput));
    EXPECT_EQ(platform::delays().lostInput, 0u);
    EXPECT_LT(durations.back(), 50000.0) << "midiIn waited for a port change or a file write";
}

// The histogram goes into a pipe of one page that nobody reads until a MIDI tap has been tried:
// the role change is caught in the middle of writing its file. Note-ons at many distances fill
// nearly every bin with a fraction, so the file is several pages long.
TEST_F(Concurrency, ARoleChangeRegroupsAndWritesItsFileOutsideTheEngineLockThread) {
    SongBuilder song;
    double t = 0;
    for (int k = 0; k < 3000; ++k, t += (k * 7919 % 997) * 0.001) song.note(t, 0.01, static_cast<uint8_t>(40 + k % 40), 100, 0, true);
    load(song.note(0.5, 0.1, 30, 90, 1, false, 1));
    n.meta->parts.attach(*n.song);
    const std::filesystem::path cwd = std::filesystem::current_path();
    std::filesystem::current_path(dir.path());
    ASSERT_EQ(mkfifo("histogram.xls", 0600), 0);
    const int reader = open("histogram.xls", O_RDONLY | O_NONBLOCK);
    ASSERT_EQ(fcntl(reader, F_SETPIPE_SZ, 4096), 4096);
    std::thread gui([&] { n.selectPart(1); });
    int queued = 0;
    for (int ms = 0; ms < 10000 && (ioctl(reader, FIONREAD, &queued) != 0 || queued < 4096); ++ms)
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    const bool tapped = n.tryMidiIn(0x90, 60, 100, 0.0);
    char page[4096];
    for (fcntl(reader, F_SETFL, 0); read(reader, page, sizeof page) > 0;) {
    }
    gui.join();
    close(reader);
    std::filesystem::current_path(cwd);
    ASSERT_EQ(queued, 4096) << "the histogram did not fill the pipe";
    EXPECT_TRUE(tapped) << "a MIDI tap found the engine locked while the histogram was written";
    EXPECT_EQ(n.meta->parts.role(1), Role::Follow);
}

// S on a song of 60,000 groups: while its metadata file is being written, the engine lock is free.
// The file is a full pipe the save waits on, so the test looks at the lock mid-write every time.
TEST_F(Concurrency, SavingTheTakeWritesTheMetadataOutsideTheEngineLockThread) {
    SongBuilder song;
    for (int k = 0; k < 60000; ++k) song.note(0.05 * k, 0.02, static_cast<uint8_t>(40 + k % 40), 100, 0, true);
    load(song);
    n.songPath = dir.file("long.mid");
    int pipeEnds[2];
    ASSERT_EQ(pipe(pipeEnds), 0);
    ASSERT_EQ(fcntl(pipeEnds[0], F_SETPIPE_SZ, 4096), 4096);
    n.meta->path = "/proc/self/fd/" + std::to_string(pipeEnds[1]);
    n.tap(1, 0);
    std::thread gui([&] { n.saveTake(); });
    int queued = 0;
    for (int ms = 0; ms < 10000 && (ioctl(pipeEnds[0], FIONREAD, &queued) != 0 || queued < 4096); ++ms)
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    const bool lockFree = n.engineLock.try_lock();
    if (lockFree) n.engineLock.unlock();
    close(pipeEnds[1]);
    char page[4096];
    while (read(pipeEnds[0], page, sizeof page) > 0) {
    }
    gui.join();
    close(pipeEnds[0]);
    ASSERT_EQ(queued, 4096) << "the metadata file did not fill the pipe";
    EXPECT_TRUE(lockFree) << "the engine lock was held while the metadata file was written";
}
