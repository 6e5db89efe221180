// Loading, analysing and grouping generated songs of 10 thousand to a million events, and a
// collection of songs shaped like real ones (or the real songs of the folder NOLARI_SONGS names).
//   ./build/nolari_bench --benchmark_filter=Song

#include <benchmark/benchmark.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "app/Nolari.h"
#include "song/Meta.h"
#include "song/Song.h"
#include "support/SongCollection.h"
#include "support/TestEnv.h"

namespace {

// A song file in a private folder that is also the working directory, where "histogram.xls" goes.
class SongInFolder {
public:
    SongInFolder(const std::string& bytes) : path(dir.file("song.mid")) {
        writeFile(path, bytes);
        if (!getcwd(previous_, sizeof previous_) || chdir(dir.path().c_str()) != 0) previous_[0] = 0;
    }
    ~SongInFolder() {
        if (previous_[0] && chdir(previous_) != 0) std::perror("chdir");
    }
    TestDir dir;
    std::string path;

private:
    char previous_[4096];
};

// The program's own memory policy, set as its entry point sets it.
[[maybe_unused]] const bool memoryPolicy = (keepFreedMemoryForReuse(), true);

void reportSong(benchmark::State& state, const Song& song) {
    state.counters["events"] = song.numEvents;
    state.counters["groups"] = song.numGroups;
    state.counters["eventBytes"] = sizeof(Event);
    state.counters["events/s"] =
        benchmark::Counter(static_cast<double>(song.numEvents), benchmark::Counter::kIsIterationInvariantRate);
}

void SongLoadAnalyseGroup(benchmark::State& state) {
    const uint32_t groups = static_cast<uint32_t>(state.range(1));
    SongInFolder file(generatedSong(static_cast<uint32_t>(state.range(0)), groups, 480));
    Song song;
    Meta meta;
    for (auto _ : state) {
        if (!song.load(file.path)) state.SkipWithError("the generated song did not load");
        meta.findDefaultGroups(song);
    }
    if (song.numGroups != groups) state.SkipWithError("the default grouping found other groups");
    reportSong(state, song);
}

// Every group start beyond the 4000th writes its line to the log.
void SongLoadAnalyseGroupManyGroups(benchmark::State& state) {
    const uint32_t groups = static_cast<uint32_t>(state.range(1));
    SongInFolder file(generatedSong(static_cast<uint32_t>(state.range(0)), groups, 100));
    Song song;
    Meta meta;
    for (auto _ : state) {
        if (!song.load(file.path)) state.SkipWithError("the generated song did not load");
        meta.findDefaultGroups(song);
        state.PauseTiming();
        file.dir.clearLog();
        state.ResumeTiming();
    }
    if (song.numGroups != groups) state.SkipWithError("the default grouping found other groups");
    reportSong(state, song);
}

// Writing the metadata file of a grouped song and reading it back onto a fresh load.
void SongMetaSaveAndLoad(benchmark::State& state) {
    const uint32_t groups = static_cast<uint32_t>(state.range(1));
    SongInFolder file(generatedSong(static_cast<uint32_t>(state.range(0)), groups, 480));
    Song song;
    Meta meta;
    if (!song.load(file.path)) state.SkipWithError("the generated song did not load");
    meta.load(file.path, song);
    for (auto _ : state) {
        meta.save(song);
        meta.load(file.path, song);
    }
    if (song.numGroups != groups) state.SkipWithError("the metadata file gave other groups");
    reportSong(state, song);
}

// The songs of the folder NOLARI_SONGS names (every .mid in it), or else a generated collection of
// 113 songs shaped like real ones, written to a private folder.
std::vector<std::string> collectionPaths(const TestDir& dir) {
    std::vector<std::string> paths;
    if (const char* folder = std::getenv("NOLARI_SONGS")) {
        for (const auto& entry : std::filesystem::directory_iterator(folder))
            if (entry.path().extension() == ".mid") paths.push_back(entry.path().string());
        return paths;
    }
    const std::vector<std::string> songs = songCollection(113);
    for (std::size_t i = 0; i < songs.size(); ++i) {
        paths.push_back(dir.file("song" + std::to_string(i) + ".mid"));
        writeFile(paths.back(), songs[i]);
    }
    return paths;
}

// Opening every song of a collection for the first time: the reader and the analysis, and with
// the second argument 1 also the default grouping and its histogram file.
void SongCollectionLoad(benchmark::State& state) {
    SongInFolder folder("");
    const std::vector<std::string> paths = collectionPaths(folder.dir);
    Song song;
    Meta meta;
    uint64_t events = 0, groups = 0;
    for (auto _ : state) {
        events = groups = 0;
        for (const std::string& path : paths) {
            if (!song.load(path)) continue;
            if (state.range(0)) meta.findDefaultGroups(song);
            events += song.numEvents;
            groups += song.numGroups;
        }
        state.PauseTiming();
        folder.dir.clearLog();
        state.ResumeTiming();
    }
    state.counters["songs"] = static_cast<double>(paths.size());
    state.counters["events"] = static_cast<double>(events);
    state.counters["groups"] = static_cast<double>(groups);
}

// A metadata file of many PART lines changing one part's role back and forth, read onto a loaded
// song: the roles take effect once, after the last line.
void SongMetaLoadManyPartLines(benchmark::State& state) {
    SongInFolder file(generatedSong(static_cast<uint32_t>(state.range(0)), 4000, 480));
    // The last line leaves the part following, so that the table of roles is built.
    std::string text;
    for (int64_t line = state.range(1); line > 0; --line) text += line % 2 ? "PART 1 1 FOLLOW\n" : "PART 1 1 PLAY\n";
    writeFile(file.path + ".mta", text);
    Song song;
    Meta meta;
    if (!song.load(file.path)) state.SkipWithError("the generated song did not load");
    for (auto _ : state) meta.load(file.path, song);
    if (meta.parts.role(meta.parts.find(1, 1)) != Role::Follow || meta.parts.allPlay())
        state.SkipWithError("the last line did not win");
    reportSong(state, song);
}

}  // namespace

BENCHMARK(SongCollectionLoad)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);
BENCHMARK(SongMetaLoadManyPartLines)->Args({1000000, 1})->Args({1000000, 70000})->Unit(benchmark::kMillisecond);
BENCHMARK(SongLoadAnalyseGroup)
    ->Args({10000, 40})
    ->Args({100000, 400})
    ->Args({1000000, 4000})
    ->Unit(benchmark::kMillisecond);
BENCHMARK(SongLoadAnalyseGroupManyGroups)->Args({1000000, 250000})->Unit(benchmark::kMillisecond);
BENCHMARK(SongMetaSaveAndLoad)->Args({1000000, 4000})->Unit(benchmark::kMillisecond);
