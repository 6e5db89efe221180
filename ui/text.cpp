// The help screen and its lines of text, in the 8 x 13 bitmap font.

#include <GL/freeglut.h>

#include "app/Nolari.h"
#include "ui/Draw.h"
#include "ui/Layout.h"

const char* const helpLines[helpLineCount] = {
    " |--------Basic Controls----------------------|---------Moving in the song---------------|\n",
    " |             F1  this screen (toggle)       |       right-arrow  move to next note     |\n",
    " |     QWERTYUIOP  play next note(s)          |        left-arrow  move to previous note |\n",
    " |            Esc  exit                       | shift-right-arrow  forward one screen    |\n",
    " |              F  load song                  |  shift-left-arrow  back one screen       |\n",
    " |           home  go to start of song        |                 M  toggle Marker         |\n",
    " |          space  listen (auto-play)         |               tab  go to next marker     |\n",
    " |-------------View---------------------------|         shift-tab  go to previous marker |\n",
    " |            L/l  make lines bigger/smaller  |         123456789  move to marker #      |\n",
    " |            N/n  make notes bigger/smaller  |-----------------Edit---------------------|\n",
    " |              C  cycle color style          |         page-down  group notes           |\n",
    " | up-/down-arrow  zoom out/in                |           page-up  ungroup notes         |\n",
    " |              V  cycle view style           |                 S  save the take         |\n",
    " |          Enter  full-screen                |                 K  count-in (one bar)    |\n",
    " |--------------------------------------------|------------------------------------------|\n",
};

// Lines are 15 pixels apart and not scaled with the window: the baseline of line n lies
// (n + 1) * 15 - 2 pixels below the top edge, 2 pixels from the left edge.
void Nolari::drawTextLine(const char* text) {
    glColor4f(0, 0, 0, 0);
    const double y = 1 - (textLine + 1) * 15.0 / windowHeight;
    glRasterPos2f(ndc(2.0 / windowWidth), ndc(y + 2.0 / windowHeight));
    for (const char* c = text; *c; ++c) {
        if (*c == '\n') {
            ++textLine;
        } else {
            glutBitmapCharacter(GLUT_BITMAP_8_BY_13, *c);
        }
    }
}

void Nolari::drawHelp() {
    glColor4f(1, 1, 1, 1);
    glRectf(-1, ndc(layout.overViewMarks.bottom), 1, ndc(layout.localView.top));
    textLine = 0;
    ++textLine;
    ++textLine;
    for (const char* line : helpLines) drawTextLine(line);
}
