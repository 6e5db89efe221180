#pragma once
// The software General MIDI synthesizer, listed as the last MIDI output.

#include <cstdint>
#include <string>

class WindowsSynthGeneralMIDI {
public:
    WindowsSynthGeneralMIDI();
    ~WindowsSynthGeneralMIDI();
    WindowsSynthGeneralMIDI(const WindowsSynthGeneralMIDI&) = delete;
    WindowsSynthGeneralMIDI& operator=(const WindowsSynthGeneralMIDI&) = delete;

    bool open();
    void close();
    const std::string& name() const { return name_; }
    void send(uint8_t channel, uint8_t type, uint8_t data1, uint8_t data2);
    bool setGMInstrument(uint8_t channel, uint8_t gmNumber);
    void play(uint8_t channel, uint8_t type, uint8_t data1, uint8_t data2);

private:
    bool isOpen = false;
    bool openAttempted = false;
    std::string name_;
};

extern WindowsSynthGeneralMIDI synth;
