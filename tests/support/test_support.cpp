#include "test_support.h"

#include <unistd.h>
#include <atomic>
#include <fstream>
#include <random>
#include <sstream>
#include <stdexcept>
#include <thread>

namespace quarn_test {

std::filesystem::path source_dir() {
    return QUARN_SOURCE_DIR;
}
std::filesystem::path binary_dir() {
    return QUARN_BINARY_DIR;
}

const std::vector<std::string>& shipped_packs() {
    static const std::vector<std::string> packs = {"default", "drovan"};
    return packs;
}

void copy_shipped_packs(const std::filesystem::path& samples) {
    std::filesystem::create_directories(samples);
    for (const auto& pack : shipped_packs())
        std::filesystem::copy(binary_dir() / "samples" / pack, samples / pack,
                              std::filesystem::copy_options::recursive);
}

TempDir::TempDir() {
    static std::atomic<int> counter{0};
    std::random_device seed;
    auto base = std::filesystem::temp_directory_path();
    for (int attempt = 0; attempt < 100; ++attempt) {
        auto candidate = base / ("quarn-test-" + std::to_string(::getpid()) + "-" +
                                 std::to_string(counter++) + "-" + std::to_string(seed() % 100000));
        if (std::filesystem::create_directory(candidate)) {
            path_ = candidate;
            return;
        }
    }
    throw std::runtime_error("cannot create a temporary folder");
}

TempDir::~TempDir() {
    std::error_code ignored;
    std::filesystem::remove_all(path_, ignored);
}

bool wait_until(const std::function<bool()>& condition, std::chrono::milliseconds timeout) {
    auto deadline = std::chrono::steady_clock::now() + timeout;
    while (!condition()) {
        if (std::chrono::steady_clock::now() >= deadline)
            return condition();
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return true;
}

void write_file(const std::filesystem::path& path, const std::string& text) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << text;
}

std::string read_file(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

long inotify_queue_room() {
    long room = 0;
    std::ifstream("/proc/sys/fs/inotify/max_queued_events") >> room;
    return room > 0 && room <= (1 << 20) ? room : 0;
}

void overflow_inotify_queue(const std::filesystem::path& folder, long room) {
    for (long i = 0; i <= room / 2; ++i)
        std::filesystem::rename(folder / (i % 2 ? "b" : "a"), folder / (i % 2 ? "a" : "b"));
}

}  // namespace quarn_test
