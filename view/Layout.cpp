#include "view/Layout.h"

// The band arithmetic is not built yet.
Layout::Layout() { setSizes(573, true); }
void Layout::setSizes(int h, bool show) {
    height = h;
    showOverview = show;
}
