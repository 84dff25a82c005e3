#pragma once

#include <cstdint>

namespace audio {

// The one format the engine plays, decodes to, resamples and records in:
// interleaved 32-bit float stereo at 96 kHz.
inline constexpr int kChannels = 2;
inline constexpr std::uint32_t kSampleRate = 96000;

}  // namespace audio
