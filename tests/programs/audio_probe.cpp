// Looks into the audio files that the end-to-end scripts make Quarn write:
//
//   audio_probe wav FILE      checks a recording's 44-byte header (RIFF WAVE,
//                             IEEE float, 2 channels, 96000 Hz, 32 bits) and
//                             prints "riff=R data=D body=B": the two sizes in
//                             the header and the bytes that follow it
//   audio_probe onsets FILE   prints the frame of every hit, one per line
//   audio_probe sound FILE    prints "frames=F until=U": the frames in FILE,
//                             and the frame after the last one not silent
//   audio_probe finite FILE   prints "nonfinite=N loudest=L": the samples that
//                             are infinite or NaN, and the largest magnitude
//                             of the others
//
// FILE for onsets is a recording (it starts with "RIFF") or the raw output of
// SDL's disk audio driver: interleaved 32-bit float stereo, no header.
#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <deque>
#include <fstream>
#include <iostream>
#include <iterator>
#include <string>
#include <vector>

namespace {

constexpr std::size_t kHeaderBytes = 44;
constexpr int kChannels = 2;

std::vector<unsigned char> read_bytes(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

std::uint32_t u32_at(const std::vector<unsigned char>& b, std::size_t at) {
    return b[at] | (b[at + 1] << 8) | (b[at + 2] << 16) |
           (static_cast<std::uint32_t>(b[at + 3]) << 24);
}

std::uint16_t u16_at(const std::vector<unsigned char>& b, std::size_t at) {
    return static_cast<std::uint16_t>(b[at] | (b[at + 1] << 8));
}

bool tag_at(const std::vector<unsigned char>& b, std::size_t at, const char* tag) {
    return std::memcmp(b.data() + at, tag, 4) == 0;
}

int check_wav(const std::string& path) {
    const auto bytes = read_bytes(path);
    if (bytes.size() < kHeaderBytes) {
        std::cerr << path << ": " << bytes.size() << " bytes, shorter than a header\n";
        return 1;
    }
    struct Field {
        const char* what;
        std::uint32_t seen;
        std::uint32_t wanted;
    };
    const Field fields[] = {
        {"fmt chunk size", u32_at(bytes, 16), 16},
        {"format tag", u16_at(bytes, 20), 3},
        {"channels", u16_at(bytes, 22), 2},
        {"frame rate", u32_at(bytes, 24), 96000},
        {"bytes per second", u32_at(bytes, 28), 96000 * 8},
        {"block align", u16_at(bytes, 32), 8},
        {"bits per sample", u16_at(bytes, 34), 32},
    };
    bool good = tag_at(bytes, 0, "RIFF") && tag_at(bytes, 8, "WAVE") && tag_at(bytes, 12, "fmt ") &&
                tag_at(bytes, 36, "data");
    if (!good)
        std::cerr << path << ": the chunk tags are not RIFF, WAVE, fmt , data\n";
    for (const auto& field : fields) {
        if (field.seen != field.wanted) {
            std::cerr << path << ": " << field.what << " " << field.seen << ", not " << field.wanted
                      << "\n";
            good = false;
        }
    }
    std::cout << "riff=" << u32_at(bytes, 4) << " data=" << u32_at(bytes, 40)
              << " body=" << bytes.size() - kHeaderBytes << "\n";
    return good ? 0 : 1;
}

std::vector<float> read_samples(const std::string& path) {
    auto bytes = read_bytes(path);
    std::size_t start = 0;
    if (bytes.size() >= kHeaderBytes && tag_at(bytes, 0, "RIFF"))
        start = kHeaderBytes;
    std::vector<float> samples((bytes.size() - start) / sizeof(float));
    std::memcpy(samples.data(), bytes.data() + start, samples.size() * sizeof(float));
    return samples;
}

// A hit is a block whose peak jumps well above the peak of the ~20 ms that
// end a few blocks earlier (a hit may take some blocks to rise); its frame is
// the first one from those few blocks on that rises above that earlier
// level. Decaying tails of earlier hits do not count, however long they ring.
std::vector<std::size_t> find_onsets(const std::vector<float>& samples) {
    constexpr std::size_t block = 32;
    constexpr std::size_t history_blocks = 60;
    constexpr std::size_t rise_blocks = 4;
    constexpr float min_peak = 0.1f;
    constexpr float jump = 2.0f;
    constexpr std::size_t refractory_frames = 4800;  // 50 ms

    const std::size_t frames = samples.size() / kChannels;
    auto level = [&](std::size_t frame) {
        float peak = 0.0f;
        for (int c = 0; c < kChannels; ++c)
            peak = std::max(peak, std::fabs(samples[frame * kChannels + c]));
        return peak;
    };

    std::vector<std::size_t> onsets;
    std::deque<float> peaks;  // of the blocks before the current one, oldest first
    for (std::size_t first = 0; first + block <= frames; first += block) {
        float peak = 0.0f;
        for (std::size_t f = first; f < first + block; ++f)
            peak = std::max(peak, level(f));
        float before = 0.0f;
        if (peaks.size() > rise_blocks)
            before = *std::max_element(peaks.begin(), peaks.end() - rise_blocks);
        const bool far_enough = onsets.empty() || first >= onsets.back() + refractory_frames;
        if (peak >= min_peak && peak > jump * before && far_enough) {
            std::size_t f = first - std::min(first, rise_blocks * block);
            while (level(f) <= before)
                ++f;
            onsets.push_back(f);
        }
        peaks.push_back(peak);
        if (peaks.size() > history_blocks + rise_blocks)
            peaks.pop_front();
    }
    return onsets;
}

// The frame after the last one holding anything but 0.
std::size_t sound_until(const std::vector<float>& samples) {
    std::size_t last = samples.size();
    while (last > 0 && samples[last - 1] == 0.0f)
        --last;
    return (last + kChannels - 1) / kChannels;
}

void print_finiteness(const std::vector<float>& samples) {
    std::size_t nonfinite = 0;
    float loudest = 0.0f;
    for (const float value : samples) {
        if (std::isfinite(value))
            loudest = std::max(loudest, std::fabs(value));
        else
            ++nonfinite;
    }
    std::cout << "nonfinite=" << nonfinite << " loudest=" << loudest << "\n";
}

int usage() {
    std::cerr << "usage: audio_probe wav FILE | onsets FILE | sound FILE | finite FILE\n";
    return 2;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 3)
        return usage();
    const std::string command = argv[1];
    if (command == "wav")
        return check_wav(argv[2]);
    if (command == "onsets") {
        for (std::size_t frame : find_onsets(read_samples(argv[2])))
            std::cout << frame << "\n";
        return 0;
    }
    if (command == "sound") {
        const auto samples = read_samples(argv[2]);
        std::cout << "frames=" << samples.size() / kChannels << " until=" << sound_until(samples)
                  << "\n";
        return 0;
    }
    if (command == "finite") {
        print_finiteness(read_samples(argv[2]));
        return 0;
    }
    return usage();
}
