#pragma once
// The display's drawing steps, one per band, in immediate-mode OpenGL; they need the window's GL
// context. Window fractions f become normalized device coordinates 2f - 1, with the projection
// and model-view matrices left at identity. Blending is never enabled, so alpha has no effect.

#include <GL/gl.h>

#include <vector>

#include "ui/Scene.h"

class OverviewImage;

inline void setColour(const Color& c) { glColor4f(c.r, c.g, c.b, c.a); }

inline void drawBar(const Bar& bar) { glRectf(ndc(bar.x0), ndc(bar.y0), ndc(bar.x1), ndc(bar.y1)); }

void drawBars(const std::vector<Bar>& bars);

void drawLocalView(const ViewFrame& frame);
void drawLocalMarks(const ViewFrame& frame);
// The scope rectangle, then (with the overview shown) the song's notes, from the kept image when
// it was prepared for this frame.
void drawOverview(const ViewFrame& frame, const OverviewImage& image);
void drawOverviewMarks(const ViewFrame& frame);

constexpr int helpLineCount = 15;
extern const char* const helpLines[helpLineCount];
