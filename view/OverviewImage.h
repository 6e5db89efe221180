#pragma once
// The overview's notes kept as an image, so that a frame lays them down in one step instead of
// drawing every note of the song again. The image holds the notes alone over a transparent
// ground and is laid over the scope rectangle with an alpha test, so the frame shows exactly the
// pixels that drawing every note would. Without framebuffer objects the notes are drawn directly.

#include <cstdint>
#include <vector>

#include "view/Scene.h"

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

    // Draws the overview's notes for the frame; needs the window's GL context.
    void draw(const ViewFrame& frame);
    // Drops the kept image, for when the song's notes were replaced in place.
    void forget() { valid_ = false; }

private:
    bool ready();
    bool render(const ViewFrame& frame);
    void show(const Band& band) const;

    enum class Support { unknown, yes, no } support_ = Support::unknown;
    unsigned framebuffer_ = 0;
    unsigned texture_ = 0;
    int textureWidth_ = 0, textureHeight_ = 0;
    bool valid_ = false;
    Key key_;
};
