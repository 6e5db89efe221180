// Feeds arbitrary text to Cfg::load as the configuration file, then checks the values it read and
// that a saved file reads back the same.

#include <cstdint>
#include <string>

#include "FuzzDir.h"
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
    static const std::string path = fuzzDir() + "/Nolari.cfg";
    writeFile(path, std::string(reinterpret_cast<const char*>(data), size));
    Cfg cfg;
    cfg.load();
    REQUIRE(isLineValue(cfg.currentSong) && isLineValue(cfg.midiInDeviceName) && isLineValue(cfg.midiOutDeviceName));
    REQUIRE(!cfg.glutActive);

    REQUIRE(cfg.save(true));
    if (!fitsALine(cfg.currentSong) || !fitsALine(cfg.midiInDeviceName) || !fitsALine(cfg.midiOutDeviceName)) {
        dropLog();
        return 0;
    }
    Cfg reread;
    reread.load();
    REQUIRE(reread.currentSong == cfg.currentSong && reread.hasCurrentSong == !cfg.currentSong.empty());
    REQUIRE(reread.midiInDeviceName == cfg.midiInDeviceName && reread.midiOutDeviceName == cfg.midiOutDeviceName);
    REQUIRE(reread.fullScreen == cfg.fullScreen && reread.showOverview == cfg.showOverview);
    REQUIRE(reread.xpos == cfg.xpos && reread.ypos == cfg.ypos && reread.width == cfg.width &&
            reread.height == cfg.height);
    REQUIRE(reread.lineWidth == cfg.lineWidth && reread.noteWidth == cfg.noteWidth &&
            reread.colorScheme == cfg.colorScheme);
    dropLog();
    return 0;
}
