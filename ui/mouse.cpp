// Clicks move the position: in the local view or the overview to a group start near the clicked
// time, in a marker band to the nearest marker. Mouse movement does nothing.

#include <GL/freeglut.h>

#include <mutex>

#include "app/Nolari.h"
#include "song/Meta.h"

void Nolari::mouse(int, int state, int x, int y) {
    if (state != GLUT_DOWN) return;
    std::lock_guard<std::recursive_mutex> guard(engineLock);
    if (listening) {
        stopListening();
        return;
    }
    allNotesOff();
    // A click jumps (to a marker, perhaps inside a group): a key held before it holds nothing now.
    forgetHeldKeys();
    if (!songLoaded) return;
    const Click click = clickTarget(viewFrame(), x, y);
    if (click.kind == Click::group) seekGroup(click.t);
    if (click.kind == Click::marker) seekMarker(click.t);
}

void Nolari::motion(int, int) {}

void Nolari::seekGroup(double t) {
    std::lock_guard<std::recursive_mutex> guard(engineLock);
    moveToSeekTarget(seekGroupTarget(*song, position, t));
}

void Nolari::seekMarker(double t) {
    std::lock_guard<std::recursive_mutex> guard(engineLock);
    moveToSeekTarget(seekMarkerTarget(*song, *meta, t));
}

void Nolari::moveToSeekTarget(int32_t target) {
    if (target < 0) return;
    position = target;
    meta->position = static_cast<uint32_t>(target);
    positionMovedByUser();
    requestRedisplay();
}
