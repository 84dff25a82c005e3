#include "audio/FrameSource.h"

#include <unistd.h>

#include <cerrno>
#include <limits>

#include "audio/Mp3Source.h"
#include "audio/SoundFileSource.h"
#include "io/RegularFile.h"

namespace audio {

std::uint64_t frames_at_rate(std::uint64_t frames, std::uint32_t from_rate, std::uint32_t to_rate) {
    if (from_rate == 0)
        return 0;
    const unsigned __int128 scaled =
        (static_cast<unsigned __int128>(frames) * to_rate + from_rate - 1) / from_rate;
    constexpr std::uint64_t kLargest = std::numeric_limits<std::uint64_t>::max();
    return scaled > kLargest ? kLargest : static_cast<std::uint64_t>(scaled);
}

std::unique_ptr<FrameSource> open_frame_source(const std::string& path) {
    io::UniqueFd file = io::open_regular_file(path);
    if (!file.valid())
        return nullptr;
    // An MP3 goes to libmpg123 by what it starts with, whatever its name:
    // libsndfile would stop it at a length it only estimates.
    unsigned char head[4] = {};
    ssize_t got = 0;
    do {
        got = ::pread(file.get(), head, sizeof head, 0);
    } while (got < 0 && errno == EINTR);
    if (got > 0 && starts_like_mpeg_audio(head, static_cast<std::size_t>(got)))
        return open_mp3_stream(std::move(file));
    return open_sound_file(std::move(file));
}

}  // namespace audio
