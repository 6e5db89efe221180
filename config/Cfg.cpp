#include "config/Cfg.h"

#include <GL/freeglut.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstring>

#include "app/AtomicSave.h"
#include "app/Log.h"
#include "app/Nolari.h"
#include "app/SettingsText.h"

namespace {

// As "%d" reads a number: the low 32 bits of what the text says.
bool readInt(TextCursor& in, int& value) {
    int64_t wide = 0;
    if (!in.integer(wide)) return false;
    value = asInt(wide);
    return true;
}

const char* yesNo(bool flag) { return flag ? "true" : "false"; }

}  // namespace

WindowCorner frameCorner(WindowCorner client, int borderWidth, int headerHeight) {
    return {client.x - std::max(borderWidth, 0), client.y - std::max(headerHeight, 0)};
}

std::string Cfg::path() const { return startDirectory + "/" + "Nolari.cfg"; }

void Cfg::load() {
    const std::string file = path();
    std::string text;
    if (!readSettingsFile(file, text)) {
        colorScheme = 0;
        logMessage("ERROR: Cfg::load() '%s' not found, using defaults\n", file.c_str());
        return;
    }
    loadFromText(text);
}

void Cfg::loadFromText(std::string_view text) {
    LogBatch batch;
    colorScheme = 0;
    const std::string file = path();
    TextCursor in{text.data(), text.data() + text.size()};
    std::string word;
    while (in.token(word))
        if (!readSetting(in, word.c_str(), file)) return;
    logConfig();
}

// Reads the value of one tag. A failure logs its line and returns false, which stops reading;
// the failures that say "using defaults" also put the colour scheme back to 0.
bool Cfg::readSetting(TextCursor& in, const char* word, const std::string& file) {
    int value = 0;
    if (!std::strcmp(word, "CURRENTSONG")) {
        if (in.restOfLine(currentSong)) return hasCurrentSong = true;
        logStamped("ERROR: CURRENTSONG not followed by path, using defaults\n");
    } else if (!std::strcmp(word, "FULLSCREEN")) {
        if (readInt(in, value)) return (fullScreen = value != 0), true;
        logStamped("ERROR: FULLSCREEN not followed by 0 or 1, using defaults\n");
    } else if (!std::strcmp(word, "SHOWOVERVIEW")) {
        if (readInt(in, value)) return (showOverview = value != 0), true;
        logStamped("ERROR: SHOWOVERVIEW not followed by 0 or 1, using defaults\n");
    } else if (!std::strcmp(word, "SCREENINFO")) {
        if (readInt(in, xpos) && readInt(in, ypos) && readInt(in, width) && readInt(in, height)) return true;
        logStamped("ERROR: SCREENINFO not followed by x/y/width/height, using defaults\n");
    } else if (!std::strcmp(word, "MIDIIN")) {
        if (in.restOfLine(midiInDeviceName)) return true;
        logStamped("ERROR: MIDIIN not followed by device name, using defaults\n");
    } else if (!std::strcmp(word, "MIDIOUT")) {
        if (in.restOfLine(midiOutDeviceName)) return true;
        logStamped("ERROR: MIDIOUT not followed by device name, using defaults\n");
    } else if (!std::strcmp(word, "LINEWIDTH")) {
        if (readInt(in, lineWidth)) return true;
        logStamped("ERROR: LINEWIDTH not followed by integer\n");
        return false;
    } else if (!std::strcmp(word, "NOTEWIDTH")) {
        if (readInt(in, noteWidth)) return true;
        logStamped("ERROR: NOTEWIDTH not followed by integer\n");
        return false;
    } else if (!std::strcmp(word, "COLORSCHEME")) {
        if (readInt(in, colorScheme)) return true;
        logStamped("ERROR: COLORSCHEME not followed by integer\n");
        return false;
    } else {
        logStamped("ERROR: unexpected tag '%s' in %s, using defaults\n", word, file.c_str());
    }
    colorScheme = 0;
    return false;
}

bool Cfg::save(bool raise) {
    if (raise) glutActive = true;
    const std::string file = path();
    AtomicSave save(file);
    FILE* out = save.out();
    if (!out) {
        logStamped("ERROR: unable to open %s for writing\n", file.c_str());
        return false;
    }
    if (glutActive && !fullScreen && glutGet(GLUT_INIT_STATE)) {
        const WindowCorner frame = frameCorner({glutGet(GLUT_WINDOW_X), glutGet(GLUT_WINDOW_Y)},
                                               glutGet(GLUT_WINDOW_BORDER_WIDTH), glutGet(GLUT_WINDOW_HEADER_HEIGHT));
        xpos = frame.x;
        ypos = frame.y;
        width = glutGet(GLUT_WINDOW_WIDTH);
        height = glutGet(GLUT_WINDOW_HEIGHT);
    }
    write(out);
    if (!save.commit()) {
        logStamped("ERROR: unable to open %s for writing\n", file.c_str());
        return false;
    }
    return true;
}

void Cfg::write(FILE* out) const {
    if (!currentSong.empty()) std::fprintf(out, "CURRENTSONG %s\n", currentSong.c_str());
    std::fprintf(out, "FULLSCREEN %d\n", fullScreen ? 1 : 0);
    if (glutActive) std::fprintf(out, "SCREENINFO %d %d %d %d\n", xpos, ypos, width, height);
    std::fprintf(out, "SHOWOVERVIEW %d\n", showOverview ? 1 : 0);
    if (!midiInDeviceName.empty()) std::fprintf(out, "MIDIIN %s\n", midiInDeviceName.c_str());
    if (!midiOutDeviceName.empty()) std::fprintf(out, "MIDIOUT %s\n", midiOutDeviceName.c_str());
    std::fprintf(out, "LINEWIDTH %d\n", lineWidth);
    std::fprintf(out, "NOTEWIDTH %d\n", noteWidth);
    std::fprintf(out, "COLORSCHEME %d\n", colorScheme);
}

void Cfg::logConfig() const {
    LogBatch batch;
    logMessage(" Cfg::logConfig()\n");
    logMessage("         currentSong %s\n", currentSong.c_str());
    logMessage("    midiInDeviceName %s\n", midiInDeviceName.c_str());
    logMessage("   midiOutDeviceName %s\n", midiOutDeviceName.c_str());
    logMessage("      hasCurrentSong %s\n", yesNo(hasCurrentSong));
    logMessage("          fullScreen %s\n", yesNo(fullScreen));
    logMessage("          glutActive %s\n", yesNo(glutActive));
    logMessage("                xpos %d\n", xpos);
    logMessage("                ypos %d\n", ypos);
    logMessage("               width %d\n", width);
    logMessage("              height %d\n", height);
}

void Cfg::setMidiInDevice(const std::string& name) {
    midiInDeviceName = name;
    save(glutActive);
}

void Cfg::setMidiOutDevice(const std::string& name) {
    logMessage("Cfg::setMidiOutDevice(%s)\n", name.c_str());
    midiOutDeviceName = name;
    save(glutActive);
}

void Cfg::setCurrentSong(const std::string& songPath) {
    logMessage("Cfg::setCurrentSong(%s)\n", songPath.c_str());
    currentSong = songPath;
    hasCurrentSong = true;
    save(glutActive);
}

void Cfg::setFullScreen(bool flag) {
    fullScreen = flag;
    save(glutActive);
}
