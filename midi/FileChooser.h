#pragma once
// The song file chooser: a modal open dialog for Standard MIDI Files.

#include <string>

// True with path set to the chosen file's full path; false with path unchanged.
bool chooseMidiFile(std::string& path);
