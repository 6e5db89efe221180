// The "Parts" submenu: who plays each part, and the split of a part into two hands.

#include <string>

#include "app/Nolari.h"
#include "midi/GeneralMidi.h"
#include "song/HandSplit.h"
#include "song/Meta.h"
#include "ui/Menus.h"

namespace {

constexpr int numMenuSplits = static_cast<int>(sizeof menuSplitPitches);
// The actions after SplitAt: one value each for every pitch of the list.
constexpr int splitAutomaticallyCode = static_cast<int>(PartAction::SplitAt) + numMenuSplits;
constexpr int joinCode = splitAutomaticallyCode + 1;
const char* const separator = "---------------------------------";

const char* roleName(Role role) { return role == Role::Follow ? "Follow" : role == Role::Mute ? "Mute" : "Play"; }

// "Track 2 "Right Hand", Channel 1, Acoustic Grand Piano".
std::string partName(const Nolari& nolari, uint32_t part) {
    const Instrument& in = nolari.song->instruments[part];
    const std::string& name = nolari.song->trackName(in.track);
    return "Track " + std::to_string(in.track + 1) + (name.empty() ? "" : " \"" + name + "\"") + ", Channel " +
           std::to_string(in.channel + 1) + ", " +
           generalMidiProgramName(nolari.meta->parts.firstProgram(part), in.channel);
}

std::string halfName(const Parts& parts, uint32_t part, Half half) {
    const std::string pitch = pitchName(parts.splitPitch(part));
    return half == Half::Low ? "below " + pitch + " (left hand)" : pitch + " and above (right hand)";
}

std::string splitLabel(uint8_t pitch) { return "Split at " + pitchName(pitch) + (pitch == middleC ? " (middle C)" : ""); }

// The code point of the UTF-8 sequence at text[i], moving i past it; '?' for a broken sequence.
uint32_t nextCharacter(const std::string& text, std::size_t& i) {
    const auto lead = static_cast<unsigned char>(text[i++]);
    const int more = lead < 0x80 ? 0 : lead >= 0xF0 ? 3 : lead >= 0xE0 ? 2 : lead >= 0xC0 ? 1 : -1;
    if (more < 0) return '?';
    uint32_t code = more == 0 ? lead : lead & (0x3Fu >> more);
    for (int k = 0; k < more; ++k) {
        if (i == text.size() || (static_cast<unsigned char>(text[i]) & 0xC0) != 0x80) return '?';
        code = code << 6 | (static_cast<unsigned char>(text[i++]) & 0x3Fu);
    }
    return code;
}

}  // namespace

std::string pitchName(uint8_t pitch) {
    static const char* const names[12] = {"C", "C#", "D", "D#", "E", "F", "F#", "G", "G#", "A", "A#", "B"};
    return names[pitch % 12] + std::to_string(pitch / 12 - 1);
}

std::string bitmapText(const std::string& utf8) {
    std::string out;
    for (std::size_t i = 0; i < utf8.size();) {
        const uint32_t code = nextCharacter(utf8, i);
        const bool drawable = code >= 0x20 && code <= 0xFF && !(code >= 0x7F && code <= 0x9F);
        out += drawable ? static_cast<char>(code) : '?';
    }
    return out;
}

int partMenuValue(uint32_t part, PartAction action, int pitchIndex) {
    int code = static_cast<int>(action);
    if (action == PartAction::SplitAt) code += pitchIndex;
    if (action == PartAction::SplitAutomatically) code = splitAutomaticallyCode;
    if (action == PartAction::Join) code = joinCode;
    return code * partValueStep + static_cast<int>(part);
}

bool decodePartChoice(int value, uint32_t parts, PartChoice& choice) {
    if (value < 0) return false;
    const int code = value / partValueStep;
    choice.part = static_cast<uint32_t>(value % partValueStep);
    if (choice.part >= parts || code > joinCode) return false;
    choice.pitch = 0;
    if (code == joinCode) {
        choice.action = PartAction::Join;
    } else if (code == splitAutomaticallyCode) {
        choice.action = PartAction::SplitAutomatically;
    } else if (code >= static_cast<int>(PartAction::SplitAt)) {
        choice.action = PartAction::SplitAt;
        choice.pitch = menuSplitPitches[code - static_cast<int>(PartAction::SplitAt)];
    } else {
        choice.action = static_cast<PartAction>(code);
    }
    return true;
}

void applyPartChoice(Parts& parts, const PartChoice& choice) {
    switch (choice.action) {
    case PartAction::Cycle:
        parts.cycle(choice.part);
        break;
    case PartAction::CycleLow:
        parts.cycleHalf(choice.part, Half::Low);
        break;
    case PartAction::CycleHigh:
        parts.cycleHalf(choice.part, Half::High);
        break;
    case PartAction::SplitAt:
    case PartAction::SplitAutomatically:
        parts.split(choice.part, choice.pitch);
        break;
    case PartAction::Join:
        parts.join(choice.part);
        break;
    }
    parts.apply();
}

std::vector<MenuEntry> partEntries(const Nolari& nolari) {
    // An empty submenu would open as a window of no size, which X refuses.
    if (!nolari.songLoaded || nolari.meta->parts.count() == 0) return {{"(no parts)", -1}};
    const Parts& parts = nolari.meta->parts;
    std::vector<MenuEntry> entries;
    for (uint32_t part : parts.byTrack()) {
        const std::string name = partName(nolari, part);
        if (!parts.isSplit(part)) {
            entries.push_back({name + ": " + roleName(parts.role(part)), partMenuValue(part, PartAction::Cycle)});
            continue;
        }
        for (const Half half : {Half::Low, Half::High})
            entries.push_back({name + ", " + halfName(parts, part, half) + ": " + roleName(parts.halfRole(part, half)),
                               partMenuValue(part, half == Half::Low ? PartAction::CycleLow : PartAction::CycleHigh)});
    }
    entries.push_back({separator, -1});
    entries.push_back({"Split into two hands", 0, true});
    return entries;
}

std::vector<MenuEntry> handEntries(const Nolari& nolari) {
    std::vector<MenuEntry> entries;
    if (!nolari.songLoaded) return entries;
    const Parts& parts = nolari.meta->parts;
    for (uint32_t part : parts.byTrack()) {
        const std::string state = parts.isSplit(part) ? ": split at " + pitchName(parts.splitPitch(part)) : "";
        entries.push_back({partName(nolari, part) + state, static_cast<int>(entries.size()), true});
    }
    return entries;
}

std::vector<std::vector<MenuEntry>> handChoiceEntries(const Nolari& nolari) {
    std::vector<std::vector<MenuEntry>> menus;
    if (!nolari.songLoaded) return menus;
    const Parts& parts = nolari.meta->parts;
    for (uint32_t part : parts.byTrack()) {
        std::vector<MenuEntry> choices;
        for (int k = 0; k < numMenuSplits; ++k) {
            const bool current = parts.isSplit(part) && parts.splitPitch(part) == menuSplitPitches[k];
            choices.push_back({markCurrent(splitLabel(menuSplitPitches[k]), current),
                               partMenuValue(part, PartAction::SplitAt, k)});
        }
        choices.push_back({markCurrent("Split automatically", false), partMenuValue(part, PartAction::SplitAutomatically)});
        if (parts.isSplit(part)) choices.push_back({markCurrent("Join the hands", false), partMenuValue(part, PartAction::Join)});
        menus.push_back(choices);
    }
    return menus;
}
