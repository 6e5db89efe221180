// The port layer's pure message and name rules, apart from the code that reaches the system, so
// that the song reader and the tools can use them without linking a MIDI back end.

#include <string>

#include "midi/grwin.h"

namespace {

bool isJackSuffix(const std::string& text) {
    if (text.size() < 2 || text[0] != '-') return false;
    for (size_t i = 1; i < text.size(); ++i)
        if (text[i] < '0' || text[i] > '9') return false;
    return true;
}

bool isClient(const std::string& client, const std::string& own) {
    if (client.rfind(own, 0) != 0) return false;
    const std::string rest = client.substr(own.size());
    return rest.empty() || isJackSuffix(rest);
}

}  // namespace

uint8_t MidiMessageType(uint8_t status, uint8_t data2) {
    const uint8_t type = status & 0xF0;
    return type == 0x90 && data2 == 0 ? 0x80 : type;
}

int MidiMessageLength(uint8_t status) {
    if (!(status & 0x80)) return 0;
    if (status < 0xF0) {
        const uint8_t type = status & 0xF0;
        return type == 0xC0 || type == 0xD0 ? 2 : 3;
    }
    switch (status) {
    case 0xF0:
    case 0xF7: return 0;
    case 0xF1:
    case 0xF3: return 2;
    case 0xF2: return 3;
    default: return 1;
    }
}

bool IsOwnPort(const std::string& name) {
    const std::string client = name.substr(0, name.find(':'));
    return isClient(client, ownInputClient) || isClient(client, ownOutputClient) || isClient(client, ownJackClient);
}

std::string WithoutAlsaAddress(const std::string& name) {
    const size_t space = name.rfind(' ');
    if (space == std::string::npos) return name;
    const std::string address = name.substr(space + 1);
    const size_t colon = address.find(':');
    if (colon == std::string::npos || colon == 0 || colon + 1 == address.size()) return name;
    for (size_t i = 0; i < address.size(); ++i)
        if (i != colon && (address[i] < '0' || address[i] > '9')) return name;
    return name.substr(0, space);
}
