// Writes the sample packs that ship with Quarn: every sound is synthesised here,
// deterministically, so the packs are the same on every build.
//
// usage: make_samples <samples folder>
#include <sndfile.h>

#include <cmath>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iostream>
#include <numbers>
#include <string>
#include <vector>

namespace {

constexpr int kRate = 44100;
constexpr double kTau = 2 * std::numbers::pi;

// A small deterministic noise source (xorshift32), values in [-1, 1].
class Noise {
  public:
    explicit Noise(std::uint32_t seed) : state(seed ? seed : 1) {}
    double next() {
        state ^= state << 13;
        state ^= state >> 17;
        state ^= state << 5;
        return static_cast<double>(state) / 2147483647.5 - 1.0;
    }

  private:
    std::uint32_t state;
};

// One-pole filters, enough to colour noise.
struct LowPass {
    double coefficient, value = 0;
    double operator()(double in) { return value += coefficient * (in - value); }
};
struct HighPass {
    LowPass low;
    double operator()(double in) { return in - low(in); }
};

double decay(double t, double seconds) {
    return std::exp(-t / seconds);
}

using Voice = std::function<double(double t)>;

// A voice rendered into `channels` interleaved channels; `spread` offsets the
// right channel's phase for stereo sounds.
std::vector<float> render(double seconds, int channels, const Voice& left, const Voice& right) {
    const auto frames = static_cast<std::size_t>(seconds * kRate);
    std::vector<float> data(frames * channels);
    for (std::size_t i = 0; i < frames; ++i) {
        const double t = static_cast<double>(i) / kRate;
        data[i * channels] = static_cast<float>(left(t));
        if (channels == 2)
            data[i * channels + 1] = static_cast<float>(right(t));
    }
    // A short fade at the end so no sound stops with a click.
    const std::size_t fade = std::min<std::size_t>(frames, kRate / 200);
    for (std::size_t i = 0; i < fade; ++i) {
        const float gain = static_cast<float>(i) / static_cast<float>(fade);
        for (int c = 0; c < channels; ++c)
            data[(frames - 1 - i) * channels + c] *= gain;
    }
    return data;
}

bool write_sound(const std::filesystem::path& path, int format, int channels,
                 const std::vector<float>& data) {
    SF_INFO info{};
    info.samplerate = kRate;
    info.channels = channels;
    info.format = format;
    SNDFILE* file = sf_open(path.c_str(), SFM_WRITE, &info);
    if (!file) {
        std::cerr << "cannot write " << path << ": " << sf_strerror(nullptr) << "\n";
        return false;
    }
    const sf_count_t frames = static_cast<sf_count_t>(data.size() / channels);
    const bool complete = sf_writef_float(file, data.data(), frames) == frames;
    sf_close(file);
    return complete;
}

struct Sound {
    std::string file;  // name with extension: ".wav" or ".mp3"
    double seconds;
    int channels;
    std::function<Voice(int channel)> voice;
};

bool write_pack(const std::filesystem::path& folder, const std::vector<Sound>& sounds,
                const std::string& readme) {
    std::filesystem::create_directories(folder);
    for (const auto& sound : sounds) {
        const bool mp3 = sound.file.ends_with(".mp3");
        const int format =
            mp3 ? (SF_FORMAT_MPEG | SF_FORMAT_MPEG_LAYER_III) : (SF_FORMAT_WAV | SF_FORMAT_PCM_16);
        const auto data = render(sound.seconds, sound.channels, sound.voice(0), sound.voice(1));
        if (!write_sound(folder / sound.file, format, sound.channels, data))
            return false;
    }
    std::ofstream(folder / "readme.txt") << readme;
    return true;
}

// --- the sounds ---

Voice kick(double start_hz, double end_hz, double length) {
    return [=](double t) {
        // The pitch falls quickly; the phase is the integral of the frequency.
        const double sweep = 0.03;
        const double phase =
            kTau * (end_hz * t + (start_hz - end_hz) * sweep * (1 - std::exp(-t / sweep)));
        return 0.9 * std::sin(phase) * decay(t, length);
    };
}

Voice snare(std::uint32_t seed, double tone_hz, double length) {
    auto noise = std::make_shared<Noise>(seed);
    auto filter = std::make_shared<HighPass>(HighPass{{0.08}});
    return [=](double t) {
        const double body = 0.4 * std::sin(kTau * tone_hz * t) * decay(t, 0.05);
        return body + 0.5 * (*filter)(noise->next()) * decay(t, length);
    };
}

Voice hat(std::uint32_t seed, double length) {
    auto noise = std::make_shared<Noise>(seed);
    auto filter = std::make_shared<HighPass>(HighPass{{0.5}});
    return [=](double t) { return 0.45 * (*filter)(noise->next()) * decay(t, length); };
}

Voice clap(std::uint32_t seed) {
    auto noise = std::make_shared<Noise>(seed);
    auto filter = std::make_shared<LowPass>(LowPass{0.35});
    return [=](double t) {
        // Three quick bursts, then the tail.
        double envelope = decay(t, 0.09) * 0.6;
        for (double burst : {0.0, 0.011, 0.022}) {
            if (t >= burst && t < burst + 0.01)
                envelope = std::max(envelope, 0.9);
        }
        return envelope * (*filter)(noise->next());
    };
}

Voice fm_blip(double carrier_hz, double ratio, double index, double length) {
    return [=](double t) {
        const double modulator =
            index * decay(t, length / 2) * std::sin(kTau * carrier_hz * ratio * t);
        return 0.6 * std::sin(kTau * carrier_hz * t + modulator) * decay(t, length);
    };
}

Voice tom(double hz, double length) {
    return kick(hz * 1.6, hz, length);
}

template <class Make>
std::function<Voice(int)> stereo(Make make) {
    return [make](int channel) { return make(channel); };
}

std::function<Voice(int)> mono(Voice voice) {
    return [voice](int) { return voice; };
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::cerr << "usage: make_samples <samples folder>\n";
        return 2;
    }
    const std::filesystem::path root = argv[1];

    const std::vector<Sound> default_pack = {
        {"kick.wav", 0.45, 1, mono(kick(160, 48, 0.16))},
        {"snare.wav", 0.3, 1, mono(snare(7, 190, 0.09))},
        {"hh.wav", 0.12, 2, stereo([](int c) { return hat(11 + c, 0.025); })},
        {"oh.wav", 0.5, 2, stereo([](int c) { return hat(21 + c, 0.14); })},
        {"clap.wav", 0.35, 1, mono(clap(31))},
        {"percy.mp3", 0.3, 1, mono(fm_blip(520, 1.5, 3.0, 0.08))},
    };
    // Lines of at most 48 columns: the width of Quarn's output area.
    const std::string default_readme =
        "The default pack: a synthesised drum kit with\n"
        "kick, snare, closed hi-hat (hh), open hi-hat\n"
        "(oh), clap and a pitched percussion (percy).\n"
        "\n"
        "Every sound is generated by Quarn's build; edit\n"
        "or add files here and Quarn picks them up while\n"
        "it runs.\n";

    const std::vector<Sound> drovan_pack = {
        {"bd.wav", 0.6, 1, mono(kick(110, 40, 0.25))},
        {"sd.wav", 0.25, 2, stereo([](int c) { return snare(41 + c, 240, 0.06); })},
        {"rim.wav", 0.08, 1, mono(fm_blip(1700, 2.3, 1.5, 0.015))},
        {"cowbell.wav", 0.4, 1, mono([](double t) {
             return 0.35 * (std::sin(kTau * 587 * t) + std::sin(kTau * 845 * t)) * decay(t, 0.1);
         })},
        {"tom.wav", 0.5, 1, mono(tom(120, 0.18))},
        {"shaker.wav", 0.15, 2, stereo([](int c) { return hat(51 + c, 0.04); })},
        {"zap.wav", 0.3, 1, mono(kick(2400, 90, 0.09))},
    };
    const std::string drovan_readme =
        "The drovan pack: a dry electronic kit with bass\n"
        "drum (bd), snare (sd), rim shot, cowbell, tom,\n"
        "shaker and a falling zap.\n"
        "\n"
        "Every sound is generated by Quarn's build.\n";

    if (!write_pack(root / "default", default_pack, default_readme))
        return 1;
    if (!write_pack(root / "drovan", drovan_pack, drovan_readme))
        return 1;
    return 0;
}
