#include "ui/Layout.h"

#include <initializer_list>

namespace {

constexpr double localWeight = 10.0;
constexpr double overviewWeight = 2.0;
constexpr double scopeWeight = 0.2;

void finish(Band& band) { band.height = band.top - band.bottom; }

}  // namespace

Layout::Layout() { setSizes(573, true); }

// The two marker bands are 12 pixels tall at the nominal height h; the rest is shared by weight.
// The weight sum counts the marker-band fraction m twice, which the program's long-standing band
// proportions depend on.
void Layout::setSizes(int h, bool show) {
    const double m = 12.0 / h;
    const double avail = 1.0 - 24.0 / h;
    const double lowerWeight = show ? overviewWeight : scopeWeight;
    const double total = localWeight + m + lowerWeight + m;

    localView.top = 1.0;
    localMarks.top = 1.0 - (localWeight / total) * avail;
    localView.bottom = localMarks.top;
    if (show) {
        overView.top = localMarks.top - m;
        localMarks.bottom = overView.top;
        overViewMarks.top = overView.top - (overviewWeight / total) * avail;
        scope.top = scope.bottom = overView.bottom = overViewMarks.top;
    } else {
        scope.top = localMarks.top - m;
        overView.top = overView.bottom = localMarks.bottom = scope.top;
        overViewMarks.top = scope.top - (scopeWeight / total) * avail;
        scope.bottom = overViewMarks.top;
    }
    overViewMarks.bottom = 0.0;
    for (Band* band : {&localView, &localMarks, &overView, &scope, &overViewMarks}) finish(*band);

    showOverview = show;
    height = h;
}
