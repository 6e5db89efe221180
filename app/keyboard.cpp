#include "app/Nolari.h"

// The key table is not built yet.
void Nolari::keyboard(unsigned char key, int, int) {
    if (key == 27) quit();
}
void Nolari::keyboardUp(unsigned char, int, int) {}
void Nolari::special(int, int, int) {}
void Nolari::toggleFullScreen() {}
void Nolari::prepareKeyboard() {}
