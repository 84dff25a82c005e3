#include <gtest/gtest.h>
#include <sched.h>
#include <sys/mount.h>
#include <sys/resource.h>

#include <atomic>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "app_harness.h"
#include "string_utils.h"

using namespace quarn_test;
using Lines = std::vector<std::string>;
namespace fs = std::filesystem;

namespace {

std::vector<fs::path> recordings_in(const fs::path& folder) {
    std::vector<fs::path> found;
    for (const auto& entry : fs::directory_iterator(folder)) {
        const std::string name = entry.path().filename().string();
        if (name.starts_with("recording_") && name.ends_with(".wav"))
            found.push_back(entry.path());
    }
    return found;
}

// The words that add_words wrapped under the last line `title`, joined
// without the blanks, which are the wrapping's.
std::string words_under(const Lines& lines, const std::string& title) {
    std::string words;
    for (auto line = lines.rbegin(); line != lines.rend() && *line != title; ++line)
        words = *line + words;
    std::erase(words, ' ');
    return words;
}

std::string without_blanks(std::string text) {
    std::erase(text, ' ');
    return text;
}

// The reply queued after the first `queued` lines, its lines (which wrap
// within the output area) joined, without blanks.
std::string reply_since(AppHarness& quarn, std::size_t queued) {
    const auto lines = quarn.pending();
    std::string reply;
    for (std::size_t i = queued; i < lines.size(); ++i)
        reply += lines[i];
    return without_blanks(reply);
}

// A tmpfs of `bytes` over `folder`, in a mount namespace of this process's
// own, so that it goes with the process. Needs the right to mount (root).
class SmallDisk {
  public:
    SmallDisk(const fs::path& folder, const std::string& bytes) : folder_(folder) {
        mounted_ = ::unshare(CLONE_NEWNS) == 0 &&
                   ::mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) == 0 &&
                   ::mount("tmpfs", folder.c_str(), "tmpfs", 0, ("size=" + bytes).c_str()) == 0;
    }
    ~SmallDisk() {
        if (mounted_)
            ::umount2(folder_.c_str(), MNT_DETACH);
    }
    SmallDisk(const SmallDisk&) = delete;
    SmallDisk& operator=(const SmallDisk&) = delete;
    bool mounted() const { return mounted_; }

    // Fills the disk up to `room` bytes (pages) free.
    void fill(const std::string& name, std::uintmax_t room) {
        const fs::path filler = folder_ / name;
        write_file(filler, "");
        const auto free_now = fs::space(folder_).available;
        write_file(filler, std::string(free_now > room ? free_now - room : 0, 'x'));
    }

  private:
    fs::path folder_;
    bool mounted_ = false;
};

void run_periods(AudioEngine& engine, int count) {
    std::vector<float> output(2 * 256);
    for (int i = 0; i < count; ++i) {
        std::fill(output.begin(), output.end(), 0.0f);
        engine.process_period(output.data(), 256);
    }
}

std::uint32_t data_size_field(const std::string& file) {
    return static_cast<unsigned char>(file[40]) | static_cast<unsigned char>(file[41]) << 8 |
           static_cast<unsigned char>(file[42]) << 16 |
           static_cast<std::uint32_t>(static_cast<unsigned char>(file[43])) << 24;
}

int failed_because(const std::string& why) {
    std::fprintf(stderr, "%s\n", why.c_str());
    return 1;
}

// A take that reaches the file-size limit, with the limit's signal at its
// default, which ends a process; 0 when everything went as it should.
int take_at_the_file_size_limit() {
    constexpr rlim_t kLimit = 44 + 100000;
    std::signal(SIGXFSZ, SIG_DFL);
    AppHarness quarn(false);
    auto& engine = quarn.app().get_audio_engine();
    std::atomic<bool> told{false};
    engine.set_recording_failed_callback([&told] { told = true; });
    rlimit limit{};
    ::getrlimit(RLIMIT_FSIZE, &limit);
    limit.rlim_cur = kLimit;
    if (::setrlimit(RLIMIT_FSIZE, &limit) != 0)
        return failed_because("no file-size limit");
    quarn.run("record start");
    if (!engine.is_recording())
        return failed_because("no take");
    run_periods(engine, 100);  // twice what the limit lets through
    if (!quarn_test::wait_until([&told] { return told.load(); }, std::chrono::seconds(1)))
        return failed_because("the failure was not told within a second");

    quarn.app().end_failed_recording();
    const auto files = recordings_in(quarn.base());
    if (engine.is_recording() || files.size() != 1)
        return failed_because("the take did not end");
    const std::string reply = words_under(quarn.output(), "recording failed:");
    if (reply !=
        without_blanks(files[0].string() + ": File too large; it keeps what was recorded before"))
        return failed_because("the output area shows \"" + reply + "\"");
    const std::string file = read_file(files[0]);
    if (file.size() != 44 + (kLimit - 44) / 8 * 8 || data_size_field(file) != file.size() - 44)
        return failed_because("the file holds " + std::to_string(file.size()) +
                              " bytes, its header counts " + std::to_string(data_size_field(file)));
    quarn.run("record stop");
    if (quarn.pending().back() != "nothing is being recorded")
        return failed_because("\"record stop\" answered \"" + quarn.pending().back() + "\"");
    return 0;
}

}  // namespace

TEST(AppRecording, StartAndStopWriteOneFileInTheBaseFolder) {
    AppHarness quarn;
    auto& engine = quarn.app().get_audio_engine();
    ASSERT_FALSE(quarn.run("record start"));
    EXPECT_EQ(quarn.pending(), (Lines{"started recording..."}));
    ASSERT_TRUE(engine.is_recording());
    ASSERT_FALSE(quarn.run("kick"));
    run_periods(engine, 40);

    // Starting again keeps the open recording.
    ASSERT_FALSE(quarn.run("record start"));
    EXPECT_EQ(quarn.pending().back(), "started recording...");
    run_periods(engine, 40);
    const auto files = recordings_in(quarn.base());
    ASSERT_EQ(files.size(), 1u);

    const auto queued = quarn.pending().size();
    ASSERT_FALSE(quarn.run("record stop"));
    EXPECT_FALSE(engine.is_recording());
    EXPECT_EQ(reply_since(quarn, queued), without_blanks("saved as " + files[0].string()));
    // 44 bytes of header, then 80 periods of 256 stereo float frames.
    EXPECT_EQ(fs::file_size(files[0]), 44u + 80u * 256u * 2u * 4u);

    ASSERT_FALSE(quarn.run("record stop"));
    EXPECT_EQ(quarn.pending().back(), "nothing is being recorded");
    EXPECT_EQ(recordings_in(quarn.base()).size(), 1u);
}

TEST(AppRecording, StartThatCannotOpenItsFileSaysSo) {
    AppHarness quarn(false);
    fs::remove_all(quarn.base());
    ASSERT_FALSE(quarn.run("record start"));
    EXPECT_FALSE(quarn.app().get_audio_engine().is_recording());
    const std::string reply = words_under(quarn.pending(), "could not start recording:");
    EXPECT_TRUE(reply.starts_with(quarn.base().string() + "/recording_")) << reply;
    EXPECT_TRUE(reply.ends_with(without_blanks(".wav: No such file or directory"))) << reply;
    ASSERT_FALSE(quarn.run("record stop"));
    EXPECT_EQ(quarn.pending().back(), "nothing is being recorded");
}

TEST(AppRecording, TakesBegunWithinOneSecondGetFilesOfTheirOwn) {
    AppHarness quarn(false);
    // Until the three commands ran within one second.
    for (int attempt = 0; attempt < 5; ++attempt) {
        for (const auto& file : recordings_in(quarn.base()))
            fs::remove(file);
        const std::string stem = (quarn.base() / ("recording_" + get_file_timestamp())).string();
        write_file(stem + ".wav", "an earlier take");
        ASSERT_FALSE(quarn.run("record start"));
        ASSERT_FALSE(quarn.run("record stop"));
        ASSERT_FALSE(quarn.run("record start"));
        const auto queued = quarn.pending().size();
        ASSERT_FALSE(quarn.run("record stop"));
        if (quarn.base() / ("recording_" + get_file_timestamp()) != stem)
            continue;
        EXPECT_EQ(read_file(stem + ".wav"), "an earlier take");
        EXPECT_EQ(read_file(stem + "-2.wav").size(), 44u);
        EXPECT_EQ(reply_since(quarn, queued), without_blanks("saved as " + stem + "-3.wav"));
        EXPECT_EQ(recordings_in(quarn.base()).size(), 3u);
        return;
    }
    FAIL() << "never three commands within one second";
}

TEST(AppRecording, ARecordingOnAFullDiskSaysItFailed) {
    AppHarness quarn(false);
    SmallDisk disk(quarn.base(), "64k");
    if (!disk.mounted())
        GTEST_SKIP() << "no right to mount a tmpfs here";
    auto& engine = quarn.app().get_audio_engine();

    // No room even for the header: no recording, and no file.
    disk.fill("filler", 0);
    ASSERT_FALSE(quarn.run("record start"));
    EXPECT_FALSE(engine.is_recording());
    EXPECT_TRUE(words_under(quarn.pending(), "could not start recording:")
                    .ends_with(without_blanks(".wav: No space left on device")))
        << quarn.pending().back();
    EXPECT_TRUE(recordings_in(quarn.base()).empty());

    // Room for a moment of sound: the take keeps it and fails on its writer's
    // thread; the next thing the interface does (here the stop) tells it in
    // the output area at once.
    disk.fill("filler", 8192);
    ASSERT_FALSE(quarn.run("record start"));
    ASSERT_TRUE(engine.is_recording());
    run_periods(engine, 100);
    ASSERT_TRUE(wait_until([&] { return engine.recording_failed(); }));
    ASSERT_FALSE(quarn.run("record stop"));
    EXPECT_EQ(quarn.pending().back(), "nothing is being recorded");
    const auto files = recordings_in(quarn.base());
    ASSERT_EQ(files.size(), 1u);
    EXPECT_EQ(words_under(quarn.output(), "recording failed:"),
              without_blanks(files[0].string() +
                             ": No space left on device; it keeps what was recorded before"));
    const std::string file = read_file(files[0]);
    ASSERT_GE(file.size(), 44u);
    EXPECT_EQ(data_size_field(file), file.size() - 44);
    EXPECT_GT(file.size(), 44u);
}

TEST(AppRecording, ATakeWhoseFileOrFolderGoesIsToldAsLostNotSaved) {
    struct Case {
        const char* what;
        // Done to the take's file (and the base folder holding it) while it runs.
        std::function<void(const fs::path& file)> mishap;
        // Found by the writer within a second of audio, or only at the stop.
        bool found_while_recording;
        std::string why;
    };
    const std::vector<Case> cases = {
        {"file deleted", [](const fs::path& file) { fs::remove(file); }, true,
         "the file was deleted while it was recorded"},
        {"folder deleted", [](const fs::path& file) { fs::remove_all(file.parent_path()); }, false,
         "its folder was deleted while it was recorded"},
        {"folder renamed",
         [](const fs::path& file) {
             fs::rename(file.parent_path(), file.parent_path().string() + "-moved");
         },
         false, "its folder was moved or renamed while it was recorded"},
        {"file replaced",
         [](const fs::path& file) {
             fs::rename(file, file.string() + ".old");
             write_file(file, "another file");
         },
         false, "the file was moved or replaced while it was recorded"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        AppHarness quarn(false);
        auto& engine = quarn.app().get_audio_engine();
        ASSERT_FALSE(quarn.run("record start"));
        ASSERT_TRUE(engine.is_recording());
        run_periods(engine, 40);
        const auto files = recordings_in(quarn.base());
        ASSERT_EQ(files.size(), 1u);
        c.mishap(files[0]);
        const std::string told = without_blanks(files[0].string() + ": " + c.why);
        if (c.found_while_recording) {
            run_periods(engine, 400);  // over a second of audio
            ASSERT_TRUE(wait_until([&] { return engine.recording_failed(); }));
            quarn.app().end_failed_recording();
            EXPECT_FALSE(engine.is_recording());
            EXPECT_EQ(words_under(quarn.output(), "recording lost:"), told);
        } else {
            run_periods(engine, 40);
            EXPECT_FALSE(engine.recording_failed());
            ASSERT_FALSE(quarn.run("record stop"));
            EXPECT_EQ(words_under(quarn.pending(), "recording lost:"), told);
        }
        for (const auto& line : quarn.pending())
            EXPECT_FALSE(line.starts_with("saved as")) << line;
        if (fs::exists(quarn.base().string() + "-moved"))
            fs::rename(quarn.base().string() + "-moved", quarn.base());
    }
}

// In a child process, which keeps the limit and the signal's default to itself.
TEST(AppRecording, ATakeAtTheFileSizeLimitIsToldAtOnceAndTheProcessGoesOn) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_EXIT(std::exit(take_at_the_file_size_limit()), ::testing::ExitedWithCode(0), "");
}
