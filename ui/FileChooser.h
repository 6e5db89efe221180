#pragma once
// The song file chooser: a modal open dialog for Standard MIDI Files (GTK 3, set up the first time
// a dialog is needed).

#include <string>

struct _GtkFileFilter;

// True with path set to the chosen file's full path; false with path unchanged.
bool chooseMidiFile(std::string& path);

// The dialog's one filter, "MIDI Files (*.mid)": names ending in .mid in any letter case. A new
// floating reference, as GTK hands out.
_GtkFileFilter* midiFileFilter();
