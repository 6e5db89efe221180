#include "support/RecordingSoundFile.h"

namespace recording {

SoundFiles& soundFiles() {
    static SoundFiles state;
    return state;
}

void resetSoundFiles() { soundFiles() = SoundFiles{}; }

}  // namespace recording

namespace platform {

using recording::soundFiles;

struct SoundFile {
    size_t index;
};

bool canWriteSoundFile(SoundFileType type) { return type == SoundFileType::wav || soundFiles().flac; }

SoundFile* createSoundFile(int, SoundFileType type, int sampleRate) {
    if (!canWriteSoundFile(type)) return nullptr;
    soundFiles().files.push_back({type, sampleRate, {}, false});
    return new SoundFile{soundFiles().files.size() - 1};
}

bool writeSoundFrames(SoundFile* file, const float* interleaved, int frames) {
    recording::SoundFileRecord& record = soundFiles().files[file->index];
    record.frames += static_cast<size_t>(frames);
    if (soundFiles().keepSamples) record.samples.insert(record.samples.end(), interleaved, interleaved + 2 * frames);
    return true;
}

bool finishSoundFile(SoundFile* file) {
    soundFiles().files[file->index].finished = true;
    delete file;
    return true;
}

}  // namespace platform
