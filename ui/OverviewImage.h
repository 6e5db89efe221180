#pragma once
// The overview's notes kept as an image, so that a frame lays them down in one step instead of
// drawing every note of the song again. The image is made by drawing the notes into the window's
// own back buffer and reading the pixels back, so it holds exactly the bytes that drawing every
// note on screen gives; a second pass in white marks which pixels hold a note. A frame lays the
// image over the scope rectangle with an alpha test that passes the note pixels only.

#include <cstdint>
#include <vector>

#include "ui/Scene.h"

class OverviewImage {
public:
    // What the kept image depends on.
    struct Key {
        const Event* events = nullptr;
        uint32_t numEvents = 0;
        const Instrument* instruments = nullptr;
        uint32_t numInstruments = 0;
        double endTime = 0;
        int colorScheme = 0;
        int windowWidth = 0, windowHeight = 0;
        double top = 0, bottom = 0;
        bool operator==(const Key&) const = default;
    };
    static Key keyOf(const ViewFrame& frame);

    // Remakes the image when the frame needs another one. It draws into the back buffer and
    // clears it again, so it must run before anything else of the frame is drawn.
    void prepare(const ViewFrame& frame);
    // Draws the overview's notes for the frame, from the image when it fits the frame.
    void draw(const ViewFrame& frame) const;
    // Drops the image, for when the song's notes were replaced in place.
    void forget() { valid_ = false; }

private:
    bool fits(const ViewFrame& frame) const { return valid_ && keyOf(frame) == key_; }
    void show() const;

    unsigned texture_ = 0;
    int firstRow_ = 0, rows_ = 0, width_ = 0, windowHeight_ = 1;
    bool valid_ = false;
    Key key_;
};
