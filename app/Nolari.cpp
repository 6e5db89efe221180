// The application shell: construction of the main object, the start-up sequence, the GLUT
// callbacks, the 40 ms timer, the idle function, the redraw throttle, song loading and the
// orderly exit.

#include "app/Nolari.h"

#include <GL/freeglut.h>

#include <chrono>
#include <cstdio>
#include <thread>

#include "app/Log.h"
#include "config/Cfg.h"
#include "midi/grwin.h"
#include "midi/platform.h"
#include "song/Meta.h"
#include "ui/FileChooser.h"
#include "ui/Layout.h"

namespace {

constexpr unsigned timerPeriodMs = 40;
constexpr double throttleThreshold = 0.0166;

void idleCallback() { nolari.idle(); }
void displayCallback() { nolari.display(); }
void reshapeCallback(int w, int h) { nolari.reshape(w, h); }
void keyboardCallback(unsigned char key, int x, int y) { nolari.keyboard(key, x, y); }
void keyboardUpCallback(unsigned char key, int x, int y) { nolari.keyboardUp(key, x, y); }
void specialCallback(int key, int x, int y) { nolari.special(key, x, y); }
void mouseCallback(int button, int state, int x, int y) { nolari.mouse(button, state, x, y); }
void motionCallback(int x, int y) { nolari.motion(x, y); }
void timerCallback(int value) { nolari.timer(value); }
// Closing the window through the window manager ends the program as Esc does, so that the
// configuration and the song's metadata are saved. GLUT also calls this while it destroys the
// window during the exit itself, which must not quit a second time.
void closeCallback() {
    if (!exitStarted()) nolari.quit();
}

}  // namespace

Nolari::Nolari() {
    cfg_ = new Cfg;
    song = new Song;
    meta = new Meta;
    songLoaded = false;
    windowReady = false;
    listening = false;
    helpShown = false;
    textLine = 0;
    for (int i = 0; i < 128; ++i) {
        const int hueIndex = (i % 12) * 7 % 12;
        noteColors[i] = hueColor(hueIndex, 12);
        paleNoteColors[i] = lighten(noteColors[i]);
    }
    output.setListener(TakeRecorder::listen, &take);
    scheduler.setAhead(MidiOutAhead);
}

Nolari::~Nolari() {
    // Its thread plays from the song deleted here.
    scheduler.stop();
    delete cfg_;
    delete song;
    delete meta;
}

std::string titleText(const std::string& path, bool loop, const std::string& tempo) {
    return "Nolari " + path + (loop ? " [loop]" : "") + tempo + "         [F1 Help]";
}

void Nolari::run(const std::string& songArgument) {
    guiThread = std::this_thread::get_id();
    logStamped("before cfg_->load()\n");
    cfg_->load();

    logStamped("before findDefaultMidiDevices()\n");
    findDefaultMidiDevices();

    logStamped("before layout.setSizes()\n");
    layout.setSizes(layout.height, cfg_->showOverview);

    if (loadSongArgument(songArgument)) {
        // The song from the command line is loaded and configured.
    } else if (cfg_->hasCurrentSong) {
        logStamped("before loadCurrentSong()\n");
        loadCurrentSong();
    } else {
        logStamped("before file()\n");
        file();
    }

    redrawNotBefore = 0.0;
    redrawPending = false;
    menusDirty = false;
    for (auto& h : held) h = 0;
    heldCount = 0;
    windowHeight = 573;
    windowWidth = 792;

    logStamped("before startMidi()\n");
    startMidi();
    scheduler.start();

    logStamped("before glutInitDisplayMode()\n");
    int argc = 1;
    char name[] = "nolari";
    char* argv[] = {name, nullptr};
    glutInit(&argc, argv);
    glutSetOption(GLUT_ACTION_ON_WINDOW_CLOSE, GLUT_ACTION_CONTINUE_EXECUTION);
    glutInitDisplayMode(GLUT_DOUBLE | GLUT_RGBA);
    glutInitWindowSize(cfg_->width, cfg_->height);
    glutInitWindowPosition(cfg_->xpos, cfg_->ypos);
    windowId = glutCreateWindow("Nolari");
    // GLUT leaves a window with a negative coordinate to the window manager; one that was left partly
    // off the screen goes back there.
    if (cfg_->xpos < 0 || cfg_->ypos < 0) glutPositionWindow(cfg_->xpos, cfg_->ypos);

    glutIdleFunc(idleCallback);
    glutDisplayFunc(displayCallback);
    glutReshapeFunc(reshapeCallback);
    glutKeyboardFunc(keyboardCallback);
    glutKeyboardUpFunc(keyboardUpCallback);
    glutTimerFunc(timerPeriodMs, timerCallback, 0);
    glutSpecialFunc(specialCallback);
    glutMouseFunc(mouseCallback);
    glutMotionFunc(motionCallback);
    glutPassiveMotionFunc(motionCallback);
    glutCloseFunc(closeCallback);
    glutIgnoreKeyRepeat(1);
    prepareKeyboard();

    if (cfg_->fullScreen) glutFullScreen();
    glClearColor(0, 0, 0, 1);
    makeMenus();
    windowReady = true;

    logStamped("before glutMainLoop()\n");
    glutMainLoop();
}

// There is no platform message queue to pump here; the idle function only keeps the main loop
// from spinning the processor.
void Nolari::idle() { std::this_thread::sleep_for(std::chrono::milliseconds(1)); }

void Nolari::timer(int) {
    threadLog.flush();
    delayReport.check(platform::delays());
    if (deviceMenus.portsChanged(clockSeconds())) menusDirty = true;
    take.tick();
    exportTick();
    if (menusDirty) makeMenus();
    if (redisplayWanted.exchange(false)) requestRedisplay();
    if (songLoaded) {
        if (listening) {
            listenTick();
        } else {
            if (redrawPending && clockSeconds() > redrawNotBefore) glutPostRedisplay();
            if (titlePending) {
                titlePending = false;
                setTitle(songPath);
            }
            showPerformerTempo();
        }
    }
    glutTimerFunc(timerPeriodMs, timerCallback, 0);
}

void Nolari::requestRedisplay() {
    if (std::this_thread::get_id() != guiThread) {
        redisplayWanted = true;
        return;
    }
    if (lastDrawDuration > throttleThreshold) redrawNotBefore = clockSeconds() + lastDrawDuration;
    if (windowReady) glutPostRedisplay();
}

void Nolari::setTitle(const std::string& path) {
    songPath = path;
    if (!windowReady) {
        titlePending = true;
        return;
    }
    showTitle(titleText(path, meta->loop, titleTempo));
}

void Nolari::showTitle(const std::string& title) {
    glutSetIconTitle(title.c_str());
    // The icon title alone is not what X11 shows on the window.
    glutSetWindowTitle(title.c_str());
}

void Nolari::showPerformerTempo() {
    double beatsPerMinute = 0.0, percent = 0.0;
    char tempo[48] = "";
    if (trackedTempo(beatsPerMinute, percent))
        std::snprintf(tempo, sizeof tempo, " [%.0f BPM, %.0f %%]", beatsPerMinute, percent);
    if (titleTempo == tempo) return;
    titleTempo = tempo;
    setTitle(songPath);
}

void Nolari::loadCurrentSong() {
    if (windowReady) {
        glutSetCursor(GLUT_CURSOR_WAIT);
        glClear(GL_COLOR_BUFFER_BIT);
        glutSwapBuffers();
    }
    bool hadSong = false;
    {
        // Taps arriving from MIDI input while the song is replaced find no song and do nothing,
        // instead of waiting for the save and the load, which run outside the lock. Listening and
        // held keys belong to the old song.
        std::lock_guard<std::recursive_mutex> guard(engineLock);
        if (listening) stopListening();
        allNotesOff();
        forgetHeldKeys();
        hadSong = songLoaded;
        songLoaded = false;
    }
    if (hadSong) meta->save(*song);
    keepLastTake();
    savedTakePath.clear();
    // The load's lines, the song's and its metadata's, go to the log together.
    LogBatch loadLines;
    const bool loaded = song->load(cfg_->currentSong);
    overviewImage.forget();
    if (windowReady) glutSetCursor(GLUT_CURSOR_LEFT_ARROW);
    if (!loaded) return;

    meta->load(cfg_->currentSong, *song);
    setTitle(cfg_->currentSong);
    {
        std::lock_guard<std::recursive_mutex> guard(engineLock);
        position = static_cast<int32_t>(meta->position);
        tempoCurve.clear();
        songLoaded = true;
        output.setTranspose(meta->transpose);
        positionMovedByUser();
    }
    requestRedisplay();
    sendProgramChanges();
}

// The song named on the command line is loaded as a configured song is, and becomes the configured
// song only once it has loaded, so that a missing or broken file does not replace a good one.
bool Nolari::loadSongArgument(const std::string& path) {
    if (path.empty()) return false;
    logStamped("before loadCurrentSong()\n");
    const std::string configured = cfg_->currentSong;
    cfg_->currentSong = path;
    loadCurrentSong();
    if (!songLoaded) {
        cfg_->currentSong = configured;
        return false;
    }
    cfg_->setCurrentSong(path);
    return true;
}

void Nolari::file() {
    allNotesOff();
    std::string path;
    if (!chooseMidiFile(path)) return;
    cfg_->setCurrentSong(path);
    loadCurrentSong();
}

// The input is closed first, so that no tap slips in after the silence or runs while the files are
// written.
void Nolari::quit() {
    SetMidiIn(midiInDevice, false);
    midiInDevice = -1;
    {
        std::lock_guard<std::recursive_mutex> guard(engineLock);
        listening = false;
        allNotesOff();
    }
    threadLog.flush();
    delayReport.flush(platform::delays());
    // Its thread would otherwise go on sending while the port layer is torn down at exit.
    scheduler.stop();
    exportTick();
    if (audioExport.stop()) logMessage("The export of the take was stopped by the exit\n");
    keepLastTake();
    cfg_->save(true);
    if (songLoaded) meta->save(*song);
    stopMidi();
    exitProcess(0);
}
