#include "app/CommandLine.h"

#include <chrono>
#include <filesystem>
#include <string_view>

#include "app/Log.h"
#include "app/Version.h"
#include "perform/AudioExport.h"

namespace {

const char usage[] =
    "Usage: nolari [SONG]\n"
    "       nolari --render TAKE.mid OUT.wav\n"
    "Plays the MIDI file SONG (default: the song played last) by tapping the letter keys.\n"
    "Nolari.cfg and NolariLog.txt are kept in the current folder; F1 in the window lists the keys.\n"
    "  --render   render the MIDI file TAKE.mid through the built-in synthesizer into OUT.wav\n"
    "             (or OUT.flac), without a window or a sound device, and exit\n"
    "  --help     show this text and exit\n"
    "  --version  show the version and exit\n";

CommandLine misuse(const std::string& problem) {
    CommandLine refused;
    refused.action = CommandLine::Action::Misuse;
    refused.problem = problem;
    return refused;
}

// Absolute, so that the configuration finds the song again from any starting folder. A ".." is
// kept: after a symbolic link it does not lead where removing it from the text would.
std::string absoluteSong(const std::string& currentDirectory, std::string_view argument) {
    const std::filesystem::path joined = std::filesystem::path(currentDirectory) / argument;
    for (const auto& part : joined)
        if (part == "..") return joined.string();
    return joined.lexically_normal().string();
}

// --render takes the two arguments after it, and stands alone.
CommandLine renderArguments(int argc, const char* const argv[], int at) {
    if (at != 1 || argc != 4) return misuse("--render takes a MIDI file and a sound file, and nothing else");
    CommandLine render;
    render.action = CommandLine::Action::Render;
    render.midiFile = argv[2];
    render.soundFile = argv[3];
    return render;
}

int renderCommand(const CommandLine& commandLine, std::FILE* out, std::FILE* err) {
    RenderProgress progress;
    const auto start = std::chrono::steady_clock::now();
    muteLog(true);
    const RenderResult result = renderMidiFile(commandLine.midiFile, commandLine.soundFile, progress);
    muteLog(false);
    if (!result.written) {
        std::fprintf(err, "nolari: cannot render %s into %s: %s\n", commandLine.midiFile.c_str(),
                     commandLine.soundFile.c_str(), result.problem.c_str());
        return 1;
    }
    const std::chrono::duration<double> took = std::chrono::steady_clock::now() - start;
    std::fprintf(out, "Rendered %s (%.1f s of sound in %.1f s)\n", commandLine.soundFile.c_str(), result.seconds,
                 took.count());
    return 0;
}

}  // namespace

CommandLine parseCommandLine(int argc, const char* const argv[], const std::string& currentDirectory) {
    CommandLine result;
    for (int i = 1; i < argc; ++i) {
        const std::string_view argument = argv[i];
        if (argument == "--render") return renderArguments(argc, argv, i);
        if (argument == "--help") {
            result.action = CommandLine::Action::ShowHelp;
            return result;
        }
        if (argument == "--version") {
            result.action = CommandLine::Action::ShowVersion;
            return result;
        }
        if (argument.starts_with('-')) return misuse("unknown option '" + std::string(argument) + "'");
        if (argument.empty()) return misuse("the song path is empty");
        if (!result.song.empty()) return misuse("more than one song given");
        result.song = absoluteSong(currentDirectory, argument);
    }
    return result;
}

int answerCommandLine(const CommandLine& commandLine, std::FILE* out, std::FILE* err) {
    switch (commandLine.action) {
    case CommandLine::Action::Run:
        return 0;
    case CommandLine::Action::Render:
        return renderCommand(commandLine, out, err);
    case CommandLine::Action::ShowHelp:
        std::fputs(usage, out);
        return 0;
    case CommandLine::Action::ShowVersion:
        std::fputs("nolari " NOLARI_VERSION "\n", out);
        return 0;
    case CommandLine::Action::Misuse:
        break;
    }
    std::fprintf(err, "nolari: %s\n", commandLine.problem.c_str());
    std::fputs(usage, err);
    return 2;
}
