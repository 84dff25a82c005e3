// Polling watcher at rest: processor time that a watcher polling the shipped
// sample packs (or the folder given as the argument) takes while nothing
// changes, as the share of one core and per listing.
#include <sys/resource.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <string>
#include <thread>

#include "watch/FileWatcher.h"
#include "watch/PollingTable.h"

namespace {

constexpr auto kSeconds = 20;

class IgnoringListener : public watch::FileWatchListener {
  public:
    void handleFileAction(watch::WatchID, const std::string&, const std::string&,
                          watch::Actions::Action, std::string) override {}
};

double cpu_seconds() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    auto seconds = [](const timeval& t) { return t.tv_sec + t.tv_usec / 1e6; };
    return seconds(usage.ru_utime) + seconds(usage.ru_stime);
}

}  // namespace

int main(int argc, char** argv) {
    namespace fs = std::filesystem;
    const fs::path folder =
        argc > 1 ? fs::path(argv[1])
                 : fs::read_symlink("/proc/self/exe").parent_path().parent_path() / "samples";
    std::size_t entries = 0;
    std::error_code error;
    for (fs::recursive_directory_iterator it(folder, error), end; !error && it != end;
         it.increment(error))
        ++entries;
    IgnoringListener listener;
    watch::FileWatcher watcher(true);
    if (watcher.addWatch(folder.string(), &listener, true) <= 0) {
        std::printf("cannot watch %s\n", folder.c_str());
        return 1;
    }
    watcher.watch();
    const double start = cpu_seconds();
    std::this_thread::sleep_for(std::chrono::seconds(kSeconds));
    const double used = cpu_seconds() - start;
    const double listings = kSeconds * 1000.0 / watch::PollingTable::interval.count();
    std::printf("%s: %zu entries, polled for %d s\n", folder.c_str(), entries, kSeconds);
    std::printf("processor time %.1f ms: %.3f %% of one core, %.1f us per listing\n", used * 1e3,
                100.0 * used / kSeconds, used * 1e6 / listings);
    return 0;
}
