// Writes the songs the load measurements use: the collection of 113 songs shaped like real ones
// (song0.mid ...) into a folder, or the million-event song with a quarter of a million groups.
//   songset <folder>
//   songset --million <song.mid>

#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "support/SongCollection.h"
#include "support/TestEnv.h"

int main(int argc, char** argv) {
    if (argc == 3 && std::string(argv[1]) == "--million") {
        writeFile(argv[2], generatedSong(1000000, 250000, 100));
        return 0;
    }
    if (argc != 2) {
        std::fprintf(stderr, "usage: songset <folder> | songset --million <song.mid>\n");
        return 2;
    }
    std::filesystem::create_directories(argv[1]);
    const std::vector<std::string> songs = songCollection(113);
    for (std::size_t i = 0; i < songs.size(); ++i)
        writeFile(std::string(argv[1]) + "/song" + std::to_string(i) + ".mid", songs[i]);
    return 0;
}
