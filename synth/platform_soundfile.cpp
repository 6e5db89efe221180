#include "synth/platform_soundfile.h"

#include <sndfile.h>

namespace platform {

namespace {

int formatOf(SoundFileType type) { return (type == SoundFileType::flac ? SF_FORMAT_FLAC : SF_FORMAT_WAV) | SF_FORMAT_PCM_16; }

SNDFILE* handle(SoundFile* file) { return reinterpret_cast<SNDFILE*>(file); }

}  // namespace

bool canWriteSoundFile(SoundFileType type) {
    SF_INFO info{};
    info.samplerate = 48000;
    info.channels = 2;
    info.format = formatOf(type);
    return sf_format_check(&info) == SF_TRUE;
}

SoundFile* createSoundFile(int fd, SoundFileType type, int sampleRate) {
    SF_INFO info{};
    info.samplerate = sampleRate;
    info.channels = 2;
    info.format = formatOf(type);
    SNDFILE* file = sf_open_fd(fd, SFM_WRITE, &info, SF_FALSE);
    // Loud passages are clipped at full scale instead of wrapping round to the opposite sign.
    if (file) sf_command(file, SFC_SET_CLIPPING, nullptr, SF_TRUE);
    return reinterpret_cast<SoundFile*>(file);
}

bool writeSoundFrames(SoundFile* file, const float* interleaved, int frames) {
    return sf_writef_float(handle(file), interleaved, frames) == frames;
}

bool finishSoundFile(SoundFile* file) { return sf_close(handle(file)) == 0; }

}  // namespace platform
