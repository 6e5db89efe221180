#pragma once
// The program's settings file "Nolari.cfg" in the starting directory.

#include <cstdio>
#include <string>
#include <string_view>

// A window's top-left corner on the screen.
struct WindowCorner {
    int x, y;
    bool operator==(const WindowCorner&) const = default;
};

// Where a new window must be placed to reopen where it is: GLUT reports the corner of the client
// area but places a new window by its frame's corner, so the decorations (border and title bar;
// none where none are reported) come off. A corner left of or above the screen stays so.
WindowCorner frameCorner(WindowCorner client, int borderWidth, int headerHeight);

struct TextCursor;

class Cfg {
public:
    void load();
    // Reads the settings from the text of a configuration file, as load does from the file.
    void loadFromText(std::string_view text);
    bool save(bool raise);
    // What save writes into the file.
    void write(FILE* out) const;
    void logConfig() const;

    // These save the file at once (with the current glutActive).
    void setMidiInDevice(const std::string& name);
    void setMidiOutDevice(const std::string& name);
    void setCurrentSong(const std::string& path);
    void setFullScreen(bool flag);

    std::string path() const;

    bool fullScreen = false;
    bool showOverview = true;
    int xpos = 0;
    int ypos = 0;
    int width = 792;
    int height = 573;
    int lineWidth = 1;
    int noteWidth = 1;
    int colorScheme = 0;
    std::string currentSong;
    bool hasCurrentSong = false;
    std::string midiInDeviceName;
    std::string midiOutDeviceName;
    bool glutActive = false;

private:
    bool readSetting(TextCursor& in, const char* word, const std::string& file);
};
