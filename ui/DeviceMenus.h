#pragma once
// The devices the midiIn and midiOut menus offer, remembered as shown. The system's port lists
// move while Nolari runs (its own ports come and go with the devices it opens, keyboards are
// plugged in and out), so a choice is taken by the name its entry showed, not by an index that may
// since point elsewhere; and a look at the lists, at most once a second, tells when the menus
// must be rebuilt to follow them.

#include <string>
#include <vector>

struct Device {
    int index;  // in the port layer's list when it was taken
    std::string name;
    bool operator==(const Device&) const = default;
};

struct DeviceLists {
    std::vector<Device> inputs;
    std::vector<Device> outputs;
    bool operator==(const DeviceLists&) const = default;
};

// The inputs and outputs as the port layer lists them now, the synthesizer included, without
// Nolari's own ports (choosing one would loop every message back into the input). A list ends at
// its first failed name lookup.
DeviceLists currentDevices();

class DeviceMenus {
public:
    // The lists the menus now being built show.
    void shown(const DeviceLists& lists);
    // The name shown by the entry whose value is index; false when no entry has it.
    bool inputName(int index, std::string& name) const { return find(shown_.inputs, index, name); }
    bool outputName(int index, std::string& name) const { return find(shown_.outputs, index, name); }
    // At most once a second (now in seconds): true when the system's lists differ from those shown.
    bool portsChanged(double now);

private:
    static bool find(const std::vector<Device>& devices, int index, std::string& name);

    DeviceLists shown_;
    double nextCheck_ = 0.0;
};
