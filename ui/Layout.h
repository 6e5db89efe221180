#pragma once
// The window's five horizontal bands, in window fractions (0 bottom, 1 top).

struct Band {
    double top = 0, bottom = 0, height = 0;

    // Inclusive of both edges, so that a point on a shared edge belongs to the upper band when
    // the bands are tested from the top down.
    bool contains(double fy) const { return bottom <= fy && fy <= top; }
};

class Layout {
public:
    Layout();
    void setSizes(int h, bool show);

    bool showOverview = true;
    Band localView, localMarks, overView, scope, overViewMarks;
    int height = 573;
};

extern Layout layout;
