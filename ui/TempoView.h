#pragma once
// The tempo curve in the overview band: the performer's tempo along the song, as a percentage of
// the song's on a scale of doublings, 100 % across the band's middle, 200 % at its top and 50 % at
// its bottom (beyond them the curve stays at the edge). A thin white line on a black edge, which
// no colour scheme uses for the overview's notes, and a dotted white line at 100 %.

#include <vector>

#include "ui/Scene.h"

struct TempoVertex {
    double x, y;
};

struct TempoPicture {
    // Each line's vertices in window fractions; a point that begins no line is a short dash.
    std::vector<std::vector<TempoVertex>> lines;
    double reference = 0;  // the height of 100 %
};

double tempoY(const Band& band, double percent);
// Consecutive points less than a pixel apart are drawn as one.
TempoPicture tempoPicture(const ViewFrame& frame);

// Draws the picture over the overview; nothing when the frame has no tempo points.
void drawTempoCurve(const ViewFrame& frame);
