// The keyboard command table: character keys, their releases and the special keys.

#include <GL/freeglut.h>
#include <GL/glx.h>
#include <X11/XKBlib.h>
#include <X11/Xlib.h>
#include <X11/keysym.h>

#include <algorithm>
#include <mutex>

#include "app/Log.h"
#include "app/Nolari.h"
#include "config/Cfg.h"

namespace {

// The performance key's index: W 1 ... P 9 in either case, 0 for every other key.
int keyIndex(unsigned char key) {
    static constexpr char row[] = "wertyuiop";
    const unsigned char lower = key >= 'A' && key <= 'Z' ? static_cast<unsigned char>(key - 'A' + 'a') : key;
    for (int i = 0; row[i]; ++i)
        if (row[i] == lower) return i + 1;
    return 0;
}

bool isTapKey(unsigned char key) { return keyIndex(key) >= 1 && keyIndex(key) <= 8; }

int nextColorScheme(int scheme) { return scheme >= 0 && scheme < 3 ? scheme + 1 : 0; }

// freeglut reports a press of Shift, Ctrl, Alt, Super or Num Lock alone as a special key. These are
// halves of a chord such as Shift+Right, not commands: they must neither stop listening nor close
// the help screen before the chord's key arrives.
bool isModifierKey(int key) {
    return key == GLUT_KEY_NUM_LOCK || (key >= GLUT_KEY_SHIFT_L && key <= GLUT_KEY_SUPER_R);
}

}  // namespace

void Nolari::keyboard(unsigned char key, int, int) { keyboardWithModifiers(key, glutGetModifiers()); }

void Nolari::special(int key, int, int) { specialWithModifiers(key, glutGetModifiers()); }

void Nolari::keyboardUp(unsigned char key, int, int) {
    if (keyIndex(key) != 0) release(keyIndex(key));
}

void Nolari::keyboardWithModifiers(unsigned char key, int modifiers) {
    if (listening) {
        stopListening();
        if (key == ' ') return;
    }
    if (helpShown) {
        helpShown = false;
        requestRedisplay();
        return;
    }
    const bool shift = modifiers & GLUT_ACTIVE_SHIFT;
    const bool ctrlOrAlt = modifiers & (GLUT_ACTIVE_CTRL | GLUT_ACTIVE_ALT);
    const bool alt = modifiers & GLUT_ACTIVE_ALT;

    if (isTapKey(key)) {
        if (ctrlOrAlt) file();
        else tap(keyIndex(key), 0);
        return;
    }
    switch (key) {
    case 8:
    case 127:
        previousMarker();
        break;
    case 9:
        if (shift) previousMarker();
        else nextMarker();
        break;
    case 10:
    case 13:
        toggleFullScreen();
        break;
    case 15:
    case 'F':
    case 'f':
        file();
        break;
    case 27:
        quit();
        break;
    case ' ': {
        std::lock_guard guard(engineLock);
        if (soundingCount() > 0) allNotesOff();
        else startListening();
        break;
    }
    case ',':
    case '.':
        allNotesOff();
        break;
    case '0':
        goToMarker(9);
        break;
    case '1': case '2': case '3': case '4': case '5': case '6': case '7': case '8': case '9':
        goToMarker(key - '1');
        break;
    case 'C':
    case 'c':
        cfg_->colorScheme = nextColorScheme(cfg_->colorScheme);
        requestRedisplay();
        break;
    case 'P':
    case 'p':
        tap(9, 0);
        break;
    case 'Q':
    case 'q':
        if (alt) quit();
        else tap(-1, 0);
        break;
    case 'H':
    case 'h':
        goToStart();
        break;
    case 'K':
    case 'k':
        countIn();
        break;
    case 'L':
        cfg_->lineWidth = std::max(1, cfg_->lineWidth + 1);
        requestRedisplay();
        break;
    case 'l':
        cfg_->lineWidth = std::max(1, cfg_->lineWidth - 1);
        requestRedisplay();
        break;
    case 'M':
    case 'm':
        toggleMarker();
        break;
    case 'N':
        cfg_->noteWidth = std::max(1, cfg_->noteWidth + 1);
        requestRedisplay();
        break;
    case 'n':
        cfg_->noteWidth = std::max(1, cfg_->noteWidth - 1);
        requestRedisplay();
        break;
    case 'S':
    case 's':
        saveTake();
        break;
    case 'V':
    case 'v':
        toggleViewStyle();
        break;
    case 'Z':
        zoom(0.9);
        break;
    case 'z':
        zoom(1 / 0.9);
        break;
    default:
        logMessage("Unused key %d ('%c')\n", key, key);
        break;
    }
}

void Nolari::specialWithModifiers(int key, int modifiers) {
    if (isModifierKey(key)) return;
    if (listening) stopListening();
    if (helpShown) {
        helpShown = false;
        requestRedisplay();
        return;
    }
    const bool shift = modifiers & GLUT_ACTIVE_SHIFT;
    switch (key) {
    case GLUT_KEY_F1:
        helpShown = true;
        requestRedisplay();
        break;
    case GLUT_KEY_F2:
        goToMarker(1);
        break;
    case GLUT_KEY_F3:
        logMessage("GLUT_KEY_F3 key unused\n");
        break;
    case GLUT_KEY_F4:
        if (modifiers & GLUT_ACTIVE_ALT) quit();
        break;
    case GLUT_KEY_F5: case GLUT_KEY_F6: case GLUT_KEY_F7: case GLUT_KEY_F8:
    case GLUT_KEY_F9: case GLUT_KEY_F10: case GLUT_KEY_F11: case GLUT_KEY_F12:
        logMessage("GLUT_KEY_F%d key unused\n", key);
        break;
    case GLUT_KEY_LEFT:
        if (shift) backScreen();
        else previousNote();
        break;
    case GLUT_KEY_RIGHT:
        if (shift) forwardScreen();
        else nextNote();
        break;
    case GLUT_KEY_UP:
        zoom(shift ? 1.25 : 1 / 0.98);
        break;
    case GLUT_KEY_DOWN:
        zoom(shift ? 0.8 : 0.98);
        break;
    case GLUT_KEY_PAGE_UP:
    case GLUT_KEY_END:
        ungroup();
        break;
    case GLUT_KEY_PAGE_DOWN:
        group();
        break;
    case GLUT_KEY_HOME:
        goToStart();
        break;
    case GLUT_KEY_INSERT:
        logMessage("GLUT_KEY_INSERT key unused\n");
        break;
    default:
        logMessage("<<<unknown special key %d>>>\n", key);
        break;
    }
}

void Nolari::toggleFullScreen() {
    if (cfg_->fullScreen) {
        if (windowReady) glutReshapeWindow(cfg_->width, cfg_->height);
        cfg_->setFullScreen(false);
        return;
    }
    cfg_->save(true);
    if (windowReady) glutFullScreen();
    cfg_->setFullScreen(true);
}

// X reports Shift+Tab as ISO_Left_Tab, which has no text, and freeglut hands keys without text
// to the special callback only for the keysyms it knows, so the press would be lost. Binding the
// text "\t" to it makes freeglut deliver Tab with Shift held, which the key table reads as
// "previous marker". The binding is matched against the modifiers left after the keysym was chosen:
// Shift is used up by choosing ISO_Left_Tab, Caps Lock and Num Lock are not, so each of their
// combinations is bound too.
// XRebindKeysym looks modifiers up while holding the display lock, and loading the keyboard map
// then takes that lock again and hangs; asking for a modifier first loads the map outside it.
void Nolari::prepareKeyboard() {
    Display* display = glXGetCurrentDisplay();
    if (!display) return;
    XkbKeysymToModifiers(display, XK_Num_Lock);
    static const KeySym locks[][2] = {{XK_Caps_Lock, XK_Num_Lock}, {XK_Caps_Lock, NoSymbol}, {XK_Num_Lock, NoSymbol}};
    static const unsigned char tab[] = "\t";
    XRebindKeysym(display, XK_ISO_Left_Tab, nullptr, 0, tab, 1);
    for (const auto& lock : locks) {
        KeySym modifiers[2] = {lock[0], lock[1]};
        XRebindKeysym(display, XK_ISO_Left_Tab, modifiers, lock[1] == NoSymbol ? 1 : 2, tab, 1);
    }
}
