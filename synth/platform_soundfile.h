#pragma once
// Writing sound files: the few operations the offline renderer needs from libsndfile. The program
// links the libsndfile implementation; unit tests and benchmarks link a recording one.

namespace platform {

enum class SoundFileType { wav, flac };

struct SoundFile;

// Whether the installed library writes this type as 16-bit stereo.
bool canWriteSoundFile(SoundFileType type);
// Starts a 16-bit stereo sound file on the open, empty, seekable file descriptor, which stays
// open; null when the library refuses.
SoundFile* createSoundFile(int fd, SoundFileType type, int sampleRate);
// Appends interleaved stereo frames; samples beyond -1 .. 1 are clipped. False on a write error.
bool writeSoundFrames(SoundFile* file, const float* interleaved, int frames);
// Completes the file's headers and lets it go; false when they could not be written.
bool finishSoundFile(SoundFile* file);

}  // namespace platform
