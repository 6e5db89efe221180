#include "ui/DeviceMenus.h"

#include "midi/grwin.h"

namespace {

constexpr double checkInterval = 1.0;

// The system is asked for its list once; the names come from that list.
std::vector<Device> listed(int (*count)(), bool (*lookup)(int, std::string&)) {
    std::vector<Device> devices;
    std::string name;
    const int listedCount = count();
    for (int i = 0; i < listedCount && lookup(i, name); ++i)
        if (!IsOwnPort(name)) devices.push_back({i, name});
    return devices;
}

}  // namespace

DeviceLists currentDevices() { return {listed(NumMidiIns, MidiInName), listed(NumMidiOuts, MidiOutName)}; }

void DeviceMenus::shown(const DeviceLists& lists) { shown_ = lists; }

bool DeviceMenus::portsChanged(double now) {
    if (now < nextCheck_) return false;
    nextCheck_ = now + checkInterval;
    return !(currentDevices() == shown_);
}

bool DeviceMenus::find(const std::vector<Device>& devices, int index, std::string& name) {
    for (const Device& device : devices) {
        if (device.index != index) continue;
        name = device.name;
        return true;
    }
    return false;
}
