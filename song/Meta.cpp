#include "song/Meta.h"

// The metadata file and the default grouping are not built yet; the markers are a stand-in.
Meta::Meta() {}
void Meta::load(const std::string&, Song&) {}
void Meta::save(Song&) {}
void Meta::reset() {}
void Meta::createDefault(Song&) {}
int Meta::histogramCutoff(Song&) { return 20; }
void Meta::findDefaultGroups(Song&) {}
bool Meta::isMarker(uint32_t index) const {
    for (uint32_t i = 0; i < numMarkers_; ++i)
        if (markers[i] == index) return true;
    return false;
}
void Meta::setMarker(uint32_t index) {
    if (isMarker(index) || numMarkers_ == 12) return;
    uint32_t i = numMarkers_++;
    for (; i > 0 && markers[i - 1] > index; --i) markers[i] = markers[i - 1];
    markers[i] = index;
}
void Meta::clearMarker(uint32_t index) {
    uint32_t i = 0;
    while (i < numMarkers_ && markers[i] != index) ++i;
    if (i == numMarkers_) return;
    for (--numMarkers_; i < numMarkers_; ++i) markers[i] = markers[i + 1];
}
uint32_t Meta::marker(uint32_t i) const { return i < numMarkers_ ? markers[i] : 0; }
