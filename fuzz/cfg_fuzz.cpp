// Feeds arbitrary text to the configuration reader as the configuration file, then checks the
// values it read and that what a save writes reads back the same.

#include <cstdint>
#include <string>

#include "FuzzInput.h"
#include "config/Cfg.h"
#include "support/TestEnv.h"

namespace {

// A value read from the rest of a line: no line feed, no line end of either kind at its end, no
// leading blank.
bool isLineValue(const std::string& value) {
    if (value.empty()) return true;
    return value.find('\n') == std::string::npos && value.back() != '\r' && value.front() != ' ';
}

// A line longer than the reader's line buffer is read in pieces, the rest as tags, so only values
// that fit one are promised to read back.
bool fitsALine(const std::string& value) { return value.size() < 990; }

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    Cfg cfg;
    cfg.loadFromText(asText(data, size));
    REQUIRE(isLineValue(cfg.currentSong) && isLineValue(cfg.midiInDeviceName) && isLineValue(cfg.midiOutDeviceName));
    REQUIRE(!cfg.glutActive);

    // As the exit's save writes it: with the window's geometry.
    cfg.glutActive = true;
    if (!fitsALine(cfg.currentSong) || !fitsALine(cfg.midiInDeviceName) || !fitsALine(cfg.midiOutDeviceName)) return 0;
    Cfg reread;
    reread.loadFromText(writtenText([&](FILE* out) { cfg.write(out); }));
    REQUIRE(reread.currentSong == cfg.currentSong && reread.hasCurrentSong == !cfg.currentSong.empty());
    REQUIRE(reread.midiInDeviceName == cfg.midiInDeviceName && reread.midiOutDeviceName == cfg.midiOutDeviceName);
    REQUIRE(reread.fullScreen == cfg.fullScreen && reread.showOverview == cfg.showOverview);
    REQUIRE(reread.xpos == cfg.xpos && reread.ypos == cfg.ypos && reread.width == cfg.width &&
            reread.height == cfg.height);
    REQUIRE(reread.lineWidth == cfg.lineWidth && reread.noteWidth == cfg.noteWidth &&
            reread.colorScheme == cfg.colorScheme);
    return 0;
}
