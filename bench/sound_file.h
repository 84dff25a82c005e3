// Writing the sound files that the benchmarks load.
#pragma once

#include <sndfile.h>

#include <string>
#include <vector>

namespace bench {

// Writes `data`, interleaved frames of `channels` floats, as a sound file of
// `format` (libsndfile's) at `rate`; false when it cannot be written whole.
inline bool write_sound(const std::string& path, int format, int rate, int channels,
                        const std::vector<float>& data) {
    SF_INFO info{};
    info.samplerate = rate;
    info.channels = channels;
    info.format = format;
    SNDFILE* file = sf_open(path.c_str(), SFM_WRITE, &info);
    if (file == nullptr)
        return false;
    const auto frames = static_cast<sf_count_t>(data.size() / channels);
    const bool complete = sf_writef_float(file, data.data(), frames) == frames;
    return sf_close(file) == 0 && complete;
}

}  // namespace bench
