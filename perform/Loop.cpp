#include "perform/Loop.h"

#include "song/Meta.h"

void Loop::choose(const Meta& meta, uint32_t position) {
    passage_ = {};
    if (!meta.loop) return;
    for (uint32_t i = 1; i < meta.numMarkers(); ++i) {
        if (meta.marker(i) <= position) continue;
        if (meta.marker(i - 1) <= position) passage_ = {true, meta.marker(i - 1), meta.marker(i)};
        return;
    }
}
