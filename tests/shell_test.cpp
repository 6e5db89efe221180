#include <gtest/gtest.h>

#include <cstdio>
#include <thread>
#include <tuple>
#include <vector>

#include "app/CommandLine.h"
#include "app/Nolari.h"
#include "app/Version.h"
#include "config/Cfg.h"
#include "song/Meta.h"
#include "song_test_fixture.h"

TEST(RedrawThrottle, SlowOverviewDrawPostponesTheNextOne) {
    Nolari n;
    n.lastDrawDuration = 0.05;
    const double before = clockSeconds();
    n.requestRedisplay();
    EXPECT_GE(n.redrawNotBefore, before + 0.05);
    EXPECT_LE(n.redrawNotBefore, clockSeconds() + 0.05);
}

TEST(RedrawThrottle, DrawOfExactlyTheThresholdDoesNotPostpone) {
    Nolari n;
    n.redrawNotBefore = 1.5;
    n.lastDrawDuration = 0.0166;
    n.requestRedisplay();
    EXPECT_EQ(n.redrawNotBefore, 1.5);
    n.lastDrawDuration = 0.01661;
    n.requestRedisplay();
    EXPECT_GT(n.redrawNotBefore, 1.5);
}

TEST(Title, IsDeferredUntilTheWindowExists) {
    Nolari n;
    n.setTitle("/songs/a.mid");
    EXPECT_EQ(n.songPath, "/songs/a.mid");
    EXPECT_TRUE(n.titlePending);
    EXPECT_EQ(titleText("/songs/a.mid"), "Nolari /songs/a.mid         [F1 Help]");
    EXPECT_EQ(titleText("/songs/a.mid", true), "Nolari /songs/a.mid [loop]         [F1 Help]");
}

TEST(MainObject, StartsWithNothingLoadedAndItsPitchColours) {
    Nolari n;
    EXPECT_FALSE(n.songLoaded);
    EXPECT_FALSE(n.windowReady);
    EXPECT_FALSE(n.listening);
    EXPECT_FALSE(n.helpShown);
    ASSERT_NE(n.cfg_, nullptr);
    ASSERT_NE(n.song, nullptr);
    ASSERT_NE(n.meta, nullptr);
    // C is green, C# (seven fifths away) is red-blue, both lightened for the pale table.
    EXPECT_FLOAT_EQ(n.pitchColor(60, false).g, 1.0f);
    EXPECT_FLOAT_EQ(n.pitchColor(61, false).r, 0.75f);
    EXPECT_FLOAT_EQ(n.pitchColor(61, false).b, 0.25f);
    EXPECT_FLOAT_EQ(n.pitchColor(61, true).r, 0.85f);
    EXPECT_FLOAT_EQ(n.pitchColor(61, true).g, 0.4f);
    EXPECT_FLOAT_EQ(n.pitchColor(64, false).b, 1.0f);
    EXPECT_FLOAT_EQ(n.pitchColor(68, false).r, 1.0f);
}

TEST(RedrawThrottle, RequestFromAnotherThreadIsLeftToTheTimer) {
    Nolari n;
    n.lastDrawDuration = 0.05;
    std::thread other([&] { n.requestRedisplay(); });
    other.join();
    EXPECT_TRUE(n.redisplayWanted);
    EXPECT_EQ(n.redrawNotBefore, 0.0) << "the throttle belongs to the GUI thread";
}

TEST(CommandLine, TakesOneSongRelativeToTheCallersFolderOrAnOption) {
    auto parse = [](std::vector<const char*> args) {
        args.insert(args.begin(), "nolari");
        return parseCommandLine(static_cast<int>(args.size()), args.data(), "/home/ann/music");
    };
    EXPECT_EQ(parse({}).action, CommandLine::Action::Run);
    EXPECT_EQ(parse({}).song, "");
    EXPECT_EQ(parse({"bach/fugue.mid"}).song, "/home/ann/music/bach/fugue.mid");
    EXPECT_EQ(parse({"./bach//fugue.mid"}).song, "/home/ann/music/bach/fugue.mid");
    EXPECT_EQ(parse({"../ode.mid"}).song, "/home/ann/music/../ode.mid") << "a symbolic link may lead elsewhere";
    EXPECT_EQ(parse({"/tmp/a b.mid"}).song, "/tmp/a b.mid");
    EXPECT_EQ(parse({"--help"}).action, CommandLine::Action::ShowHelp);
    EXPECT_EQ(parse({"song.mid", "--version"}).action, CommandLine::Action::ShowVersion);
    EXPECT_EQ(parse({"--render", "t.mid", "t.wav"}).action, CommandLine::Action::Render);
    EXPECT_EQ(parse({"--render", "t.mid", "t.wav"}).soundFile, "t.wav");
    for (auto refused : {std::vector<const char*>{"-h"}, {"--verbose"}, {"-"}, {"a.mid", "b.mid"}, {""}, {"--render", "a.mid"},
                         {"--render", "a.mid", "b.wav", "c"}, {"song.mid", "--render", "a.mid", "b.wav"}})
        EXPECT_EQ(parse(refused).action, CommandLine::Action::Misuse) << refused.back();
}

// --render, without a log: status 0 once the file is written, else 1 with one line saying why.
TEST(CommandLine, HelpAndVersionGoToStandardOutputMisuseToStandardErrorWithStatusTwoRenderZeroOrOne) {
    TestDir dir;
    auto answer = [&](CommandLine::Action action, std::string& out, std::string& err, std::string midi = "",
                      std::string sound = "") {
        std::FILE* outFile = std::tmpfile();
        std::FILE* errFile = std::tmpfile();
        CommandLine commandLine;
        commandLine.action = action;
        commandLine.problem = "unknown option '-x'";
        commandLine.midiFile = dir.file(midi);
        commandLine.soundFile = dir.file(sound);
        const int status = answerCommandLine(commandLine, outFile, errFile);
        auto text = [](std::FILE* f) {
            std::string s(static_cast<size_t>(std::ftell(f)), '\0');
            std::rewind(f);
            s.resize(std::fread(s.data(), 1, s.size(), f));
            std::fclose(f);
            return s;
        };
        out = text(outFile);
        err = text(errFile);
        return status;
    };
    std::string out, err;
    EXPECT_EQ(answer(CommandLine::Action::ShowHelp, out, err), 0);
    EXPECT_EQ(out.rfind("Usage: nolari [SONG]\n", 0), 0u);
    EXPECT_EQ(err, "");
    EXPECT_EQ(answer(CommandLine::Action::ShowVersion, out, err), 0);
    EXPECT_EQ(out, "nolari " NOLARI_VERSION "\n");
    EXPECT_EQ(answer(CommandLine::Action::Misuse, out, err), 2);
    EXPECT_EQ(out, "");
    EXPECT_EQ(err.rfind("nolari: unknown option '-x'\nUsage: nolari [SONG]\n", 0), 0u);

    SmfWriter().note(0, 480, 60).save(dir.file("take.mid"));
    SmfWriter().controller(0, 7, 100).save(dir.file("empty.mid"));
    EXPECT_EQ(answer(CommandLine::Action::Render, out, err, "take.mid", "take.wav"), 0);
    EXPECT_EQ(out.rfind("Rendered " + dir.file("take.wav") + " (", 0), 0u) << out;
    EXPECT_EQ(err, "");
    for (const auto& [midi, sound, problem] : {std::tuple<std::string, std::string, std::string>{"missing.mid", "o.wav", "No such file or directory"},
                                               {"empty.mid", "o.wav", "it has no notes"},
                                               {"take.mid", "o.mp3", "the sound file's name must end in .wav or .flac"}}) {
        EXPECT_EQ(answer(CommandLine::Action::Render, out, err, midi, sound), 1);
        EXPECT_EQ(out + err, "nolari: cannot render " + dir.file(midi) + " into " + dir.file(sound) + ": " + problem + "\n");
    }
    EXPECT_EQ(dir.log(), "");
}

using SongArgument = SongFixture;

TEST_F(SongArgument, ReplacesTheConfiguredSongOnlyWhenItLoads) {
    SmfWriter().note(0, 240, 60).save(dir.file("given.mid"));
    Nolari n;
    n.cfg_->currentSong = "/songs/configured.mid";
    n.cfg_->hasCurrentSong = true;

    EXPECT_FALSE(n.loadSongArgument(dir.file("missing.mid")));
    EXPECT_FALSE(n.songLoaded);
    EXPECT_EQ(n.cfg_->currentSong, "/songs/configured.mid");
    EXPECT_NE(dir.log().find("unable to open " + dir.file("missing.mid")), std::string::npos);
    EXPECT_EQ(dir.read("Nolari.cfg"), "") << "a failed argument saves nothing";

    EXPECT_TRUE(n.loadSongArgument(dir.file("given.mid")));
    EXPECT_TRUE(n.songLoaded);
    EXPECT_EQ(n.songPath, dir.file("given.mid"));
    EXPECT_NE(dir.read("Nolari.cfg").find("CURRENTSONG " + dir.file("given.mid")), std::string::npos);
}
