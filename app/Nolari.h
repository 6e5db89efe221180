#pragma once
// The main object: all performance and window state of the one running program, and the
// process-wide objects around it.

#include <atomic>
#include <cstdint>
#include <mutex>
#include <string>
#include <thread>

#include "app/LogQueue.h"
#include "midi/DelayReport.h"
#include "midi/Output.h"
#include "perform/AudioExport.h"
#include "perform/Followers.h"
#include "perform/Loop.h"
#include "perform/Scheduler.h"
#include "perform/TakeRecorder.h"
#include "perform/TempoCurve.h"
#include "song/Song.h"
#include "ui/DeviceMenus.h"
#include "ui/OverviewImage.h"
#include "ui/Scene.h"

class Cfg;
class Meta;

// Seconds on the high-resolution monotonic clock.
double clockSeconds();

class Nolari {
public:
    Nolari();
    ~Nolari();
    Nolari(const Nolari&) = delete;
    Nolari& operator=(const Nolari&) = delete;

    // --- Application shell ---
    // Starts the program; a non-empty songArgument (from the command line) is loaded instead of
    // the configured song.
    void run(const std::string& songArgument = {});
    bool loadSongArgument(const std::string& path);
    void idle();
    void timer(int value);
    void requestRedisplay();
    void setTitle(const std::string& path);
    void showTitle(const std::string& title);
    void loadCurrentSong();
    void file();
    void quit();
    const Color& pitchColor(int pitch, bool pale) const { return pale ? paleNoteColors[pitch & 127] : noteColors[pitch & 127]; }

    // --- Keyboard commands ---
    void keyboard(unsigned char key, int x, int y);
    void keyboardUp(unsigned char key, int x, int y);
    void special(int key, int x, int y);
    void toggleFullScreen();
    // Makes keys that freeglut would drop on this platform (Shift+Tab) reach keyboard().
    void prepareKeyboard();
    // keyboard and special with the modifier mask given rather than read from GLUT.
    void keyboardWithModifiers(unsigned char key, int modifiers);
    void specialWithModifiers(int key, int modifiers);

    // --- Event output and note tracking ---
    // due: when the message is to sound on the program's clock, 0 for now.
    void trackNoteOn(uint8_t channel, uint8_t pitch, uint8_t velocity, double due = 0.0);
    void trackNoteOff(uint8_t channel, uint8_t pitch, double due = 0.0);
    // Sends the events of the parts whose role is upTo or before it: Play and Follow parts unless
    // told otherwise, never Mute parts.
    void playRange(Event* first, Event* end, uint8_t scaleFrom, uint8_t scaleTo, double due = 0.0,
                   Role upTo = Role::Follow);
    // Plays one song event handed to the scheduler, at its due time.
    void playScheduled(uint32_t event, double due);
    // playScheduled as the scheduler and the followers call it, with the main object as context.
    static void playScheduledOn(void* self, uint32_t event, double due) {
        static_cast<Nolari*>(self)->playScheduled(event, due);
    }
    void allNotesOff();
    int soundingCount() const;
    void sendProgramChanges();

    // --- The take ---
    // S: writes the take beside the song and starts a new one.
    void saveTake();
    // At a song switch and at exit: an unsaved take goes to LastTake.mid.
    void keepLastTake();
    // "Export take as audio": renders the take to export into a sound file beside it.
    void exportTake(platform::SoundFileType type);
    std::string takeToExport();
    void exportTick();

    // --- Tapping and auto-play ---
    // at: the tap's time on the program's clock (the frame it arrived at), 0 for now.
    void tap(int index, int velocity, double at = 0.0);
    void release(int index);
    // at: the time of the event's frame, 0 for now; what it sends stands for that time.
    void midiIn(uint8_t status, uint8_t data1, uint8_t data2, double at = 0.0);
    // midiIn for JACK's real-time thread, which must not wait: false, with nothing done, while
    // another thread holds engineLock.
    bool tryMidiIn(uint8_t status, uint8_t data1, uint8_t data2, double at);
    // After a jump or a switch: no key holds a group any more, and their releases send nothing.
    void forgetHeldKeys();
    Event* lastNoteOnOfGroup(Event* e) const;
    int groupMaxVelocity(Event* first, Event* end) const;
    void startListening();
    void listenTick();
    void stopListening();
    // Hands the scheduler the next listened events, and a mark that asks for the batch after.
    void queueListenBatch();
    // When an event is to sound while listening, on the program's clock.
    double listenDue(const Event& e) const;
    // The song's listen speed in percent; while listening, listening goes on at it from where it got.
    void setListenSpeed(int percent);
    // Scheduled in place of an event: ask for the next batch; listening is over.
    static constexpr uint32_t listenBatchMark = UINT32_MAX;
    static constexpr uint32_t listenEndMark = UINT32_MAX - 1;
    // A song with at least one event is loaded.
    bool hasSong() const;
    // The event at position, kept within the song; null when there is no song.
    Event* currentEvent() const;
    // Moves position, and the metadata's position with it, to the event and asks for a redraw.
    void moveTo(const Event* e);

    // --- Navigation ---
    void nextNote();
    void previousNote();
    void forwardScreen();
    void backScreen();
    void goToStart();
    void toggleMarker();
    void nextMarker();
    void previousMarker();
    void goToMarker(int n);
    void zoom(double factor);
    void group();
    void ungroup();
    Event* nextGroupStart(Event* e) const;
    Event* previousGroupStart() const;
    Event* nextNoteOn() const;

    // --- Practice: loop between markers, transposition ---
    // The performer moved the position (a load, navigation, a marker key, a click): the loop's
    // passage is chosen afresh. Taps and releases do not call it.
    void positionMovedByUser();
    // A jump in the song: the tempo between the taps on either side of it means nothing.
    void breakTempo();
    void toggleLoop();
    // A Transpose menu choice: a step in semitones, or 0 for none.
    void selectTranspose(int choice);

    // --- Device selection and menus ---
    void findDefaultMidiDevices();
    int findMidiInByName(const std::string& name) const;
    int findMidiOutByName(const std::string& name) const;
    void startMidi();
    void stopMidi();
    void sendLocalControl(bool on);
    void selectMidiIn(int n);
    void selectMidiOut(int n);
    void changeMidiOut(int n);
    void selectMain(int item);
    // A Parts menu choice (a role moved on, a split or a join: partMenuValue) applied, and the
    // played parts' notes grouped afresh.
    void selectPart(int value);
    // Chosen from the "Listen speed" submenu: percent of the song's tempo, kept with the song.
    void selectListenSpeed(int percent);
    void makeMenus();
    // The devices the menus show, by the names they show.
    DeviceMenus deviceMenus;

    // --- Display ---
    void display();
    void reshape(int w, int h);
    void toggleViewStyle();
    void drawTextLine(const char* text);
    void drawHelp();
    void mouse(int button, int state, int x, int y);
    void motion(int x, int y);
    void seekGroup(double t);
    void seekMarker(double t);
    // What the display and the mouse work from, the position copied under engineLock.
    ViewFrame viewFrame() const;
    void drawViews();
    bool overviewDue(double now);
    void moveToSeekTarget(int32_t target);
    // The overview's notes, kept between frames; loading a song must call its forget().
    OverviewImage overviewImage;

    // Fields, in declaration order.
    uint8_t sounding[16][128] = {};
    uint8_t held[128] = {};
    int32_t heldCount = 0;
    int32_t midiInDevice = -1;
    int32_t midiOutDevice = -1;
    bool menusDirty = false;
    Cfg* cfg_ = nullptr;
    Meta* meta = nullptr;
    Song* song = nullptr;
    std::string songPath;
    bool helpShown = false;
    int32_t textLine = 0;
    Color paleNoteColors[128];
    Color noteColors[128];
    int32_t windowId = 0;
    double redrawNotBefore = 0.0;
    double lastDrawDuration = 0.0;
    bool redrawPending = false;
    bool windowReady = false;
    bool songLoaded = false;
    bool titlePending = false;
    int32_t windowWidth = 792;
    int32_t windowHeight = 573;
    int32_t position = 0;
    // Written by the scheduler's thread when listening ends; read by the timer.
    std::atomic<bool> listening{false};
    int32_t listenIndex = 0;
    int32_t listenPlayed = 0;  // the first listened event not yet played
    double listenEnd = 0.0;
    double listenOffset = 0.0;

    // Serialises the engine's entry points between the GUI thread and the MIDI-input thread.
    mutable std::recursive_mutex engineLock;
    // GLUT may only be called from the GUI thread: a redraw asked for on the MIDI-input thread
    // is noted here and requested by the next timer tick.
    std::thread::id guiThread = std::this_thread::get_id();
    std::atomic<bool> redisplayWanted{false};

    // A log line from an engine path: written at once on the GUI thread, queued from the MIDI-input
    // and scheduler threads (which must not open files) until the next timer tick.
    void engineLog(const char* format, ...) __attribute__((format(printf, 2, 3)));
    LogQueue threadLog;

    // Everything sent goes through here.
    Output output;
    // Late timed output and input that waited for the engine, logged from the timer.
    DelayReport delayReport;
    // Everything sent, from the first note of the take on; the output's listener.
    TakeRecorder take{clockSeconds, engineLock};
    // The take saved last since the song was opened; the one an export renders.
    std::string savedTakePath;
    // Renders takes into sound files on a thread of its own.
    AudioExport audioExport;
    Loop loop;
    // Plays song events at their times; owns the one thread besides GUI and MIDI input.
    Scheduler scheduler{clockSeconds, playScheduledOn, this, engineLock};
    // Plays the Follow parts in the performer's tempo, through the scheduler.
    Followers followers{scheduler, playScheduledOn, this};
    // The performer's tempo at each tap, drawn along the song in the overview.
    PerformerTempo performerTempo;
    TempoCurve tempoCurve;
};

// Process-wide objects, constructed in this order in one translation unit (app/process.cpp):
// the synthesizer, startDirectory, the clock, the main object, the layout.
extern std::string startDirectory;
extern Nolari nolari;

// Closes the synthesizer, logs "Exiting." and ends the process with the given status.
[[noreturn]] void exitProcess(int status);
// Lets memory freed by one song serve the next; called once at start.
void keepFreedMemoryForReuse();

// True once exitProcess has begun: the window's teardown at exit must not start a second exit.
bool exitStarted();

// The title shown for a song: "Nolari <path>         [F1 Help]", with " [loop]" after the path
// while the loop is on.
std::string titleText(const std::string& path, bool loop = false);
