#include "App.h"

#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cwchar>
#include <filesystem>
#include <optional>
#include <sstream>
#include <thread>
#include <utility>

#include "ReplyText.h"
#include "audio/SampleDecoder.h"
#include "io/RegularFile.h"
#include "tui/screen/unicode.h"

void App::load_sample_pack(const std::string& name, bool show_readme_lines) {
    if (name.empty()) {
        add_words(L"Sample packs: ", user_lib->get_sample_pack_names());
        return;
    }
    if (!is_plain_name(name)) {
        refuse_name();
        return;
    }
    pack_folder = base_folder + "/samples/" + name;
    // A name that is no pack still empties the composition (a file naming it
    // loads silent). A missing folder is followed, so that the pack loads once
    // it is made; one that is there but no pack ("." or a link back above the
    // samples folder would hold every pack) is not.
    std::error_code error;
    const bool follow =
        user_lib->is_pack(name) || (name != "." && !std::filesystem::exists(pack_folder, error));
    pack_name = to_wstring(name);  // as the pack list converts it, so that it is found there
    sequencer->clear();
    std::uint64_t generation;
    // The old pack's buffers are freed once the lock is released: the
    // trigger never waits for a free.
    std::unordered_map<std::string, std::shared_ptr<AudioBuffer>> old_buffers;
    {
        std::lock_guard<std::mutex> lock(samples_mutex);
        old_buffers.swap(sample_buffers);
        sample_names.clear();
        generation = ++pack_generation;
        pack_loading = follow;
        removed_while_loading.clear();
    }
    old_buffers.clear();
    if (!follow)
        return;  // the handlers of the pack before are out of date and stay out
    try {
        // Bound before the library moves to the new folder, so that no event of
        // the new pack falls between the two; the handlers keep to their folder.
        bind_file_handlers(generation, pack_folder);
        user_lib->set_active_sample_pack(pack_folder);

        // The samples are added in the order of their paths.
        SampleReservation reservation(*this);
        const std::vector<std::string> paths = files_within_limit(user_lib->files(), reservation);
        install_pack_samples(paths, decode_files(paths));
    } catch (const std::exception& error) {
        // What is loaded stays, and nothing is left half set for the next switch.
        {
            std::lock_guard<std::mutex> lock(samples_mutex);
            pack_loading = false;
            removed_while_loading.clear();
        }
        add_failure(L"could not load all of the pack " + pack_name + L":", error.what());
    }

    if (show_readme_lines)
        show_readme(pack_folder + "/readme.txt");
}

std::vector<std::shared_ptr<AudioBuffer>> App::decode_files(const std::vector<std::string>& paths) {
    // Decoding takes the time of a switch: spread it over the cores.
    std::vector<std::shared_ptr<AudioBuffer>> buffers(paths.size());
    std::atomic<std::size_t> next{0};
    auto decode = [&] {
        for (std::size_t i = next++; i < paths.size(); i = next++) {
            try {
                buffers[i] = audio_engine->load_sample(paths[i]);
            } catch (...) {
                report_decoding_failure(paths[i], std::current_exception());
            }
        }
    };
    const std::size_t workers =
        std::min<std::size_t>(paths.size(), std::max(1u, std::thread::hardware_concurrency()));
    std::vector<std::jthread> pool;
    try {
        pool.reserve(workers);
        for (std::size_t i = 1; i < workers; ++i)
            pool.emplace_back(decode);
    } catch (const std::exception& error) {
        // Out of threads (a process limit): the files a worker would have
        // taken are left to this thread.
        report_background_failure(
            L"could not start a decoding thread:",
            std::string(error.what()) + "; the files were decoded all the same");
    }
    decode();
    pool.clear();
    return buffers;
}

void App::report_decoding_failure(const std::string& path, std::exception_ptr failure) noexcept {
    try {
        report_background_failure(
            L"could not decode " + tui::to_wstring(get_extension(path).name) + L":",
            reason_of(failure));
    } catch (...) {
        // Not even the news could be made (no memory left): the file is left out.
    }
}

void App::install_pack_samples(const std::vector<std::string>& paths,
                               std::vector<std::shared_ptr<AudioBuffer>> buffers) {
    // Of two files with one sample name the later path decides, also when it
    // does not decode.
    std::vector<std::string> names;
    std::unordered_map<std::string, std::shared_ptr<AudioBuffer>> loaded;
    for (std::size_t i = 0; i < paths.size(); ++i) {
        const std::string name = get_extension(paths[i]).name;
        if (!buffers[i]) {
            if (loaded.erase(name))
                std::erase(names, name);
            continue;
        }
        if (!loaded.count(name))
            names.push_back(name);
        loaded[name] = std::move(buffers[i]);
    }
    // The pack's handlers may have run while it was decoding. They saw later
    // states of their files, so what they stored or removed stands; but the
    // pack's own files come first, in the order of their paths.
    std::lock_guard<std::mutex> lock(samples_mutex);
    // All that can fail comes before the first change, so that a failure
    // leaves the samples and their names in step.
    std::vector<std::string> order;
    order.reserve(names.size() + sample_names.size());
    for (const auto& name : names) {
        if (!removed_while_loading.count(name) || sample_buffers.count(name))
            order.push_back(name);
    }
    const std::size_t pack_files = order.size();
    for (const auto& name : sample_names) {
        if (!loaded.count(name))
            order.push_back(name);
    }
    sample_buffers.reserve(sample_buffers.size() + pack_files);
    // Moved over whole, without allocating; a sample a handler stored stays.
    for (std::size_t i = 0; i < pack_files; ++i)
        sample_buffers.insert(loaded.extract(order[i]));
    sample_names = std::move(order);
    pack_loading = false;
    removed_while_loading.clear();
}

void App::show_readme(const std::string& path) {
    // Readmes are a few lines; a FIFO or a link to a device under that name
    // must neither hang the switch nor fill the memory.
    constexpr std::uint64_t kLargestReadme = 64 * 1024;
    const auto text = io::read_regular_file(path, kLargestReadme);
    if (!text)
        return;
    std::vector<tui::Element> lines;
    std::istringstream in(*text);
    for (std::string line; std::getline(in, line) && !line.empty();) {
        for (auto& piece : wrap_text(tui::to_wstring(line)))
            lines.push_back(tui::text(std::move(piece)) | tui::bold);
    }
    queue(std::move(lines));
}

bool App::is_current(std::uint64_t generation) {
    std::lock_guard<std::mutex> lock(samples_mutex);
    return generation == pack_generation;
}

void App::update_sample_of(std::uint64_t generation, const std::string& path,
                           std::shared_ptr<AudioBuffer> buffer) {
    const std::string name = get_extension(path).name;
    if (!buffer) {
        if (!is_current(generation))
            return;
        sequencer->delete_sample(name);
    }
    // The buffer replaced or removed is freed after the lock is released
    // (declared first, so destroyed last): the trigger never waits for a free.
    std::shared_ptr<AudioBuffer> old_buffer;
    std::lock_guard<std::mutex> lock(samples_mutex);
    if (generation != pack_generation)
        return;
    const auto found = sample_buffers.find(name);
    if (!buffer) {
        if (found != sample_buffers.end()) {
            old_buffer = std::move(found->second);
            sample_buffers.erase(found);
        }
        std::erase(sample_names, name);
        if (pack_loading)
            removed_while_loading.insert(name);
        return;
    }
    if (found == sample_buffers.end()) {
        // A sample that let go of its memory for its replacement is still listed.
        if (std::find(sample_names.begin(), sample_names.end(), name) == sample_names.end())
            sample_names.push_back(name);
        sample_buffers.emplace(name, std::move(buffer));
        return;
    }
    old_buffer = std::exchange(found->second, std::move(buffer));
}

bool App::play_sample(const std::string& name, float volume, int semitones) {
    std::lock_guard<std::mutex> lock(samples_mutex);
    const auto found = sample_buffers.find(name);
    if (found == sample_buffers.end())
        return false;
    audio_engine->play(found->second, volume, semitones);
    return true;
}

namespace {

// The memory a decoded sound of `frames` takes.
std::uint64_t decoded_bytes(std::uint64_t frames) {
    return frames * audio::kChannels * sizeof(float);
}

// The memory a file takes once decoded, by its declared length; nothing for
// one that will not decode (no sound file, or one too long to be loaded).
std::optional<std::uint64_t> declared_bytes_of(const std::string& path) {
    const auto frames = audio::declared_frames_of(path);
    if (!frames || *frames > audio::kMaxDecodedFrames)
        return std::nullopt;
    return decoded_bytes(*frames);
}

std::wstring memory_text(std::uint64_t bytes) {
    constexpr double kGiB = 1024.0 * 1024.0 * 1024.0;
    const double size = static_cast<double>(bytes);
    wchar_t text[32];
    if (size >= kGiB)
        std::swprintf(text, 32, L"%.1f GiB", size / kGiB);
    else
        std::swprintf(text, 32, L"%.1f MiB", size / (1024.0 * 1024.0));
    return text;
}

std::wstring file_name_of(const std::string& path) {
    return to_wstring(std::filesystem::path(path).filename().string());
}

// Whether `bytes` more fit beside `held` within `limit`.
bool fits(std::uint64_t held, std::uint64_t bytes, std::uint64_t limit) {
    return held <= limit && bytes <= limit - held;
}

}  // namespace

std::uint64_t App::machine_sample_memory_limit() {
    // Room for a few long samples, while the program, the sounds playing and
    // the rest of the machine keep theirs.
    constexpr std::uint64_t kMost = 2ull << 30;
    const long pages = ::sysconf(_SC_PHYS_PAGES);
    const long page_size = ::sysconf(_SC_PAGESIZE);
    if (pages <= 0 || page_size <= 0)
        return kMost;
    return std::min(kMost,
                    static_cast<std::uint64_t>(pages) * static_cast<std::uint64_t>(page_size) / 4);
}

void App::limit_sample_memory(std::uint64_t bytes) {
    std::lock_guard<std::mutex> lock(samples_mutex);
    sample_memory_limit = bytes;
}

App::SampleReservation::~SampleReservation() {
    if (bytes == 0)
        return;
    std::lock_guard<std::mutex> lock(app.samples_mutex);
    app.reserved_sample_bytes -= bytes;
}

void App::SampleReservation::add(std::uint64_t more) {
    bytes += more;
    app.reserved_sample_bytes += more;
}

std::uint64_t App::sample_bytes_held(const std::string& left_out) {
    std::uint64_t held = reserved_sample_bytes;
    for (const auto& [name, buffer] : sample_buffers) {
        if (name != left_out)
            held += decoded_bytes(buffer->frame_count);
    }
    return held;
}

std::wstring App::memory_refusal(std::uint64_t limit) {
    return L"not loaded, past the " + memory_text(limit) + L" a pack may hold:";
}

std::vector<std::string> App::files_within_limit(const std::vector<std::string>& paths,
                                                 SampleReservation& reservation) {
    // Of several files of one sample name the last decides: the others are
    // not decoded at all.
    std::unordered_map<std::string, std::size_t> last_of_name;
    for (std::size_t i = 0; i < paths.size(); ++i)
        last_of_name[get_extension(paths[i]).name] = i;
    std::vector<std::string> deciding;
    std::vector<std::uint64_t> sizes;
    for (std::size_t i = 0; i < paths.size(); ++i) {
        if (last_of_name[get_extension(paths[i]).name] != i)
            continue;
        // A file that does not open takes nothing: its decoding fails.
        deciding.push_back(paths[i]);
        sizes.push_back(declared_bytes_of(paths[i]).value_or(0));
    }
    std::vector<std::string> picked;
    std::vector<std::wstring> refused;
    std::uint64_t limit;
    {
        std::lock_guard<std::mutex> lock(samples_mutex);
        limit = sample_memory_limit;
        std::uint64_t held = sample_bytes_held("");
        for (std::size_t i = 0; i < deciding.size(); ++i) {
            if (!fits(held, sizes[i], limit)) {
                refused.push_back(file_name_of(deciding[i]));
                continue;
            }
            held += sizes[i];
            reservation.add(sizes[i]);
            picked.push_back(deciding[i]);
        }
    }
    if (!refused.empty())
        add_words(memory_refusal(limit), refused);
    return picked;
}

std::shared_ptr<AudioBuffer> App::decode_within_limit(std::uint64_t generation,
                                                      const std::string& path,
                                                      SampleReservation& reservation,
                                                      bool& refused) {
    refused = false;
    const auto declared = declared_bytes_of(path);
    if (!declared)
        return nullptr;
    const std::uint64_t bytes = *declared;
    const std::string name = get_extension(path).name;
    std::uint64_t limit;
    std::shared_ptr<AudioBuffer> replaced;
    {
        std::lock_guard<std::mutex> lock(samples_mutex);
        if (generation != pack_generation)
            return nullptr;
        limit = sample_memory_limit;
        const std::uint64_t others = sample_bytes_held(name);
        refused = !fits(others, bytes, limit);
        const auto found = sample_buffers.find(name);
        if (!refused && found != sample_buffers.end() &&
            !fits(others + decoded_bytes(found->second->frame_count), bytes, limit)) {
            replaced = std::move(found->second);
            sample_buffers.erase(found);
        }
        if (!refused)
            reservation.add(bytes);
    }
    if (refused) {
        // Told at once: no command is under way for it to follow.
        report_background_failure(memory_refusal(limit),
                                  std::filesystem::path(path).filename().string());
        return nullptr;
    }
    replaced.reset();  // freed here, before its replacement is decoded
    return audio_engine->load_sample(path);
}
