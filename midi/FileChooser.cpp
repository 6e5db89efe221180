#include "midi/FileChooser.h"

// The file dialog is not built yet: every request is cancelled.
bool chooseMidiFile(std::string&) { return false; }
