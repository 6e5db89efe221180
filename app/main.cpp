// The entry point: reads the command line, records the starting directory, opens the software
// synthesizer and runs the main object, which does not return in normal operation.

#include <unistd.h>

#include <climits>
#include <string>

#include "app/CommandLine.h"
#include "app/Log.h"
#include "app/Nolari.h"
#include "midi/grwin.h"
#include "synth/WindowsSynthGeneralMIDI.h"

int main(int argc, char* argv[]) {
    keepFreedMemoryForReuse();
    char directory[PATH_MAX];
    startDirectory = getcwd(directory, sizeof directory) ? directory : ".";
    // Answered before the log is touched, so that --help leaves no file behind.
    const CommandLine commandLine = parseCommandLine(argc, argv, startDirectory);
    if (commandLine.action != CommandLine::Action::Run) return answerCommandLine(commandLine, stdout, stderr);
    logStamped("Starting _tWinMain (starting directory %s)\n", startDirectory.c_str());
    synthOpen = synth.open();
    if (synthOpen) synthIndex = NumMidiOuts() - 1;
    nolari.run(commandLine.song);
    synth.close();
    return 0;
}
