// The entry point: records the starting directory, opens the software synthesizer and runs the
// main object, which does not return in normal operation.

#include <unistd.h>

#include <climits>
#include <string>

#include "app/Log.h"
#include "app/Nolari.h"
#include "midi/WindowsSynthGeneralMIDI.h"
#include "midi/grwin.h"

int main() {
    keepFreedMemoryForReuse();
    char directory[PATH_MAX];
    startDirectory = getcwd(directory, sizeof directory) ? directory : ".";
    logStamped("Starting _tWinMain (starting directory %s)\n", startDirectory.c_str());
    synthOpen = synth.open();
    if (synthOpen) synthIndex = NumMidiOuts() - 1;
    nolari.run();
    synth.close();
    return 0;
}
