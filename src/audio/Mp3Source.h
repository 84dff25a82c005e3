#pragma once

#include <memory>

#include "audio/FrameSource.h"
#include "io/UniqueFd.h"

namespace audio {

// An MPEG audio stream (MP3, and layers I and II) read through libmpg123 to
// the end of the file, whatever a Xing, Info or LAME frame at its start says:
// a file without such a frame and files joined end to end play whole. Each
// rate of a joined stream is a segment of its own; mono gives two equal
// channels. Its length is measured on opening by walking the frame headers
// (no decoding), with the encoder's delay and padding of a tagged file left
// out as they are in decoding. Null when no MPEG frame is found.
//
// Threads: any thread, several at once.
std::unique_ptr<FrameSource> open_mp3_stream(io::UniqueFd file);

// Whether `head`, the first bytes of a file (4 or more), begin an MPEG audio
// stream: an ID3v2 tag or an MPEG audio frame header.
bool starts_like_mpeg_audio(const unsigned char* head, std::size_t size);

}  // namespace audio
