#include <GL/freeglut.h>

#include "app/Nolari.h"

// Drawing is not built yet: the window stays black.
void Nolari::display() {
    glClear(GL_COLOR_BUFFER_BIT);
    glutSwapBuffers();
}
void Nolari::reshape(int, int) {}
void Nolari::toggleViewStyle() {}
void Nolari::drawTextLine(const char*) {}
void Nolari::drawHelp() {}
