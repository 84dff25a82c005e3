#pragma once

#include <memory>

#include "audio/FrameSource.h"
#include "io/UniqueFd.h"

namespace audio {

// A sound file read through libsndfile (WAV and the other formats it knows),
// one segment long: the rate never changes, and the length is the header's.
// Mono gives two equal channels; of more than two channels the first two are
// left and right and the others are shared by both sides, each side averaged.
// Null when libsndfile does not take the file.
//
// Threads: any thread, several at once.
std::unique_ptr<FrameSource> open_sound_file(io::UniqueFd file);

}  // namespace audio
