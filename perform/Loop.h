#pragma once
// The passage a performer practises with "Loop between markers" on: from the last marker at or
// before the position to the next marker. It is chosen when the performer moves the position
// (a song load, navigation, a marker key, a click), not by the taps that walk through it, so that
// a tap reaching the passage's end can go round to its start.

#include <cstdint>

class Meta;

struct Passage {
    bool exists = false;
    uint32_t start = 0;  // event index of the marker it begins at
    uint32_t end = 0;    // event index of the marker that ends it
};

class Loop {
public:
    // None when the loop is off, or the position lies before the first marker or at or after the
    // last one.
    void choose(const Meta& meta, uint32_t position);
    const Passage& passage() const { return passage_; }
    // A tap whose group would begin at this event index plays the passage's first group instead.
    bool wraps(uint32_t groupStart) const { return passage_.exists && groupStart >= passage_.end; }

private:
    Passage passage_;
};
