#pragma once
// Shared by the display benchmark and the drawing check: a GLUT window to draw the display's
// bands into outside the main loop, and a long song to draw.

#include <GL/freeglut.h>
#include <X11/Xlib.h>

#include <cstdlib>

#include "app/Nolari.h"
#include "song/Meta.h"
#include "support/RecordingPlatform.h"
#include "support/SongBuilder.h"
#include "ui/Layout.h"
#include "ui/Scene.h"

namespace drawsetup {

inline bool exposed = false;
inline void onDisplay() { exposed = true; }

// Opens a double-buffered window of w x h pixels and waits until it is shown; false when no
// X display can be opened (freeglut would end the process).
inline bool openWindow(int w, int h) {
    // Drawing plays no MIDI: the main object runs on the recording back end, named here so that
    // the linker takes it from the support library.
    recording::reset();
    Display* probe = XOpenDisplay(nullptr);
    if (!probe) return false;
    int argc = 1;
    char name[] = "drawsetup";
    char* argv[] = {name, nullptr};
    glutInit(&argc, argv);
    // Closed only now: an X server that resets when its last client leaves would otherwise be
    // resetting just as glutInit connects.
    XCloseDisplay(probe);
    glutInitDisplayMode(GLUT_DOUBLE | GLUT_RGBA);
    glutInitWindowSize(w, h);
    glutCreateWindow("Nolari drawing");
    glutDisplayFunc(onDisplay);
    for (int i = 0; i < 2000 && !exposed; ++i) glutMainLoopEvent();
    glViewport(0, 0, w, h);
    glClearColor(0, 0, 0, 1);
    return true;
}

// A busy piano-like texture: onsets 0 to 80 ms apart (25 notes a second; 100 000 notes last
// about 67 minutes), lengths from 50 ms to 2 s with every 97th note 1 ms short, pitches 28 to 99,
// four instruments, a group start at every third note. Deterministic.
inline void buildLongSong(Song& song, int notes) {
    SongBuilder b;
    unsigned state = 12345;
    auto next = [&state] {
        state = state * 1103515245u + 12345u;
        return (state >> 8) & 0xffff;
    };
    double t = 0;
    for (int i = 0; i < notes; ++i) {
        t += (next() % 81) / 1000.0;
        const double length = i % 97 == 0 ? 0.001 : 0.05 + (next() % 1951) / 1000.0;
        const uint8_t pitch = static_cast<uint8_t>(28 + next() % 72);
        const uint32_t instrument = next() % 4;
        b.note(t, length, pitch, 100, static_cast<uint8_t>(instrument), i % 3 == 0, instrument);
    }
    b.build(song);
}

inline ViewFrame frameOf(const Song& song, const Meta& meta, int32_t position, int w, int h, int scheme = 0) {
    ViewFrame frame;
    frame.song = &song;
    frame.meta = &meta;
    frame.bands = layout;
    frame.position = position;
    frame.zoom = 10.0;
    frame.colorScheme = scheme;
    frame.windowWidth = w;
    frame.windowHeight = h;
    frame.pitchColors = nolari.noteColors;
    frame.palePitchColors = nolari.paleNoteColors;
    return frame;
}

}  // namespace drawsetup
