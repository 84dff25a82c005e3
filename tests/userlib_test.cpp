#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <future>
#include <mutex>
#include <thread>

#include "UserLib.h"
#include "test_support.h"
#include "tui/screen/unicode.h"

using namespace quarn_test;
namespace fs = std::filesystem;

namespace {

// What the four file callbacks were called with, as "added <path>" or
// "moved <old> -> <new>".
class CallLog {
  public:
    void install(UserLib& lib) {
        auto file = [this](const char* what) {
            return [this, what](const std::string& path) { add(std::string(what) + " " + path); };
        };
        lib.set_file_callbacks(file("added"), file("deleted"), file("modified"),
                               [this](const std::string& from, const std::string& to) {
                                   add("moved " + from + " -> " + to);
                               });
    }
    void add(const std::string& line) {
        std::lock_guard<std::mutex> lock(mutex);
        lines.push_back(line);
    }
    bool saw(const std::string& line) {
        return wait_until([&] { return count_containing(line) > 0; });
    }
    int count_containing(const std::string& text) {
        std::lock_guard<std::mutex> lock(mutex);
        return static_cast<int>(std::count_if(lines.begin(), lines.end(), [&](const auto& line) {
            return line.find(text) != std::string::npos;
        }));
    }

  private:
    std::mutex mutex;
    std::vector<std::string> lines;
};

}  // namespace

TEST(ToWstringTest, ConvertsUtf8ToOneWideCharacterPerCodePointAndReplacesMalformedSequences) {
    const wchar_t bad = 0xFFFD;
    const std::pair<std::string, std::wstring> cases[] = {
        {"kick", L"kick"},
        {"caf\xC3\xA9 \xE2\x82\xAC", {L'c', L'a', L'f', 0xE9, L' ', 0x20AC}},
        {"dr\xF0\x9F\xA5\x81m", {L'd', L'r', 0x1F941, L'm'}},  // beyond U+FFFF: one character
        {"a\xFF"
         "b",
         {L'a', bad, L'b'}},
        {"\xC0\xAF", {bad, bad}},                    // overlong
        {"\xED\xA0\x80", {bad, bad, bad}},           // an encoded surrogate
        {"\xF4\x90\x80\x80", {bad, bad, bad, bad}},  // above U+10FFFF
        {"\xE2\x82"
         "x\xE2\x82",
         {bad, L'x', bad}},  // cut short, mid-text and at the end
    };
    for (const auto& [text, expected] : cases) {
        EXPECT_EQ(to_wstring(text), expected) << text;
        // The screen's conversion agrees, so the active pack is found in the list.
        EXPECT_EQ(tui::to_wstring(text), expected) << text;
    }
}

TEST(UserLibTest, ListsPacksSampleFilesAndCompositions) {
    TempDir base;
    const fs::path samples = base.path() / "samples", pack = samples / "a";
    fs::create_directories(pack);
    fs::create_directories(samples / "b");
    write_file(samples / "c.wav", "x");
    for (const char* name :
         {"snare.wav", "kick.mp3", "kick.WAV", "recording_1.wav", "readme.txt", "hat.flac", ".wav"})
        write_file(pack / name, "x");
    for (const char* name : {"song.json", "a.b.json", "x.JSON", "notes.txt"})
        write_file(base.path() / name, "{}");

    // Links: to a folder elsewhere (a pack), back to the base folder and to
    // the samples folder (which hold every pack), and to nothing.
    fs::create_directories(base.path() / "elsewhere");
    fs::create_directory_symlink(base.path() / "elsewhere", samples / "away");
    fs::create_directory_symlink(base.path(), samples / "up");
    fs::create_directory_symlink(samples, samples / "self");
    fs::create_directory_symlink(base.path() / "nothing", samples / "gone");

    UserLib lib(samples.string());
    EXPECT_EQ(lib.get_sample_pack_names(), (std::vector<std::wstring>{L"a", L"away", L"b"}));
    for (const char* name : {"a", "away", "b"})
        EXPECT_TRUE(lib.is_pack(name)) << name;
    for (const char* name : {"", ".", "..", "up", "self", "gone", "c.wav", "missing", "a/."})
        EXPECT_FALSE(lib.is_pack(name)) << name;
    lib.set_active_sample_pack(pack.string());
    const std::string prefix = pack.string() + "/";
    EXPECT_EQ(lib.files(), (std::vector<std::string>{prefix + ".wav", prefix + "kick.mp3",
                                                     prefix + "snare.wav"}));
    EXPECT_EQ(lib.get_json_files(), (std::vector<std::wstring>{L"a.b", L"song"}));
    EXPECT_TRUE(UserLib::accept_file(get_extension("Recording_1.wav")));

    lib.set_active_sample_pack((samples / "missing").string());
    EXPECT_TRUE(lib.files().empty());

    // Without a samples folder there are no packs, but the compositions beside it stay listed.
    UserLib bare((base.path() / "absent").string());
    EXPECT_TRUE(bare.get_sample_pack_names().empty());
    EXPECT_EQ(bare.get_json_files(), (std::vector<std::wstring>{L"a.b", L"song"}));
}

TEST(UserLibTest, ReportsChangesInActivePackAndRelistsPacks) {
    TempDir base;
    const fs::path samples = base.path() / "samples", pack = samples / "default";
    fs::create_directories(pack);
    UserLib lib(samples.string());
    CallLog log;
    log.install(lib);
    lib.set_active_sample_pack(pack.string());
    const std::string p = pack.string() + "/";

    write_file(pack / "kick.wav", "x");
    EXPECT_TRUE(log.saw("added " + p + "kick.wav"));
    write_file(pack / "kick.wav", "y");
    EXPECT_TRUE(log.saw("modified " + p + "kick.wav"));
    fs::rename(pack / "kick.wav", pack / "bd.wav");
    EXPECT_TRUE(log.saw("moved " + p + "kick.wav -> " + p + "bd.wav"));
    EXPECT_EQ(log.count_containing("added " + p + "bd.wav"), 0);  // one event, not two
    fs::remove(pack / "bd.wav");
    EXPECT_TRUE(log.saw("deleted " + p + "bd.wav"));

    fs::create_directory(pack / "sub");
    write_file(pack / "sub/hh.wav", "x");
    EXPECT_TRUE(log.saw("added " + p + "sub/hh.wav"));
    fs::rename(pack / "sub/hh.wav", pack / "sub/oh.wav");
    EXPECT_TRUE(log.saw("moved " + p + "sub/hh.wav -> " + p + "sub/oh.wav"));
    fs::remove(pack / "sub/oh.wav");
    EXPECT_TRUE(log.saw("deleted " + p + "sub/oh.wav"));

    fs::create_directory(samples / "drovan");
    EXPECT_TRUE(wait_until([&] { return lib.get_sample_pack_names().size() == 2; }));
    EXPECT_EQ(lib.get_sample_pack_names(), (std::vector<std::wstring>{L"default", L"drovan"}));
    // Outside the active pack: the pack list only.
    EXPECT_EQ(log.count_containing("drovan"), 0);
}

TEST(UserLibTest, SwitchingPacksDropsEventsOfThePreviousPack) {
    TempDir base;
    const fs::path samples = base.path() / "samples";
    for (const char* name : {"samples/one", "samples/two", "elsewhere"})
        fs::create_directories(base.path() / name);
    UserLib lib(samples.string());
    CallLog log;
    log.install(lib);
    lib.set_active_sample_pack((samples / "one").string());
    lib.set_active_sample_pack((samples / "two").string());
    write_file(samples / "one/late.wav", "x");
    write_file(samples / "two/new.wav", "x");
    EXPECT_TRUE(log.saw("two/new.wav"));
    EXPECT_EQ(log.count_containing("late.wav"), 0);

    // A pack reached through ".." lies outside the samples watch.
    lib.set_active_sample_pack((samples / "../elsewhere").string());
    write_file(samples / "two/old.wav", "x");
    write_file(base.path() / "elsewhere/far.wav", "x");
    EXPECT_TRUE(log.saw("elsewhere/far.wav"));
    EXPECT_EQ(log.count_containing("old.wav"), 0);
}

TEST(UserLibTest, SwitchWaitsForACallbackOfThePreviousPackButNotForItsPause) {
    TempDir base;
    const fs::path samples = base.path() / "samples";
    fs::create_directories(samples / "one");
    fs::create_directories(samples / "two");
    UserLib lib(samples.string());
    lib.set_active_sample_pack((samples / "one").string());
    std::atomic<bool> in_callback{false}, callback_done{false}, switched{false};
    std::promise<void> release;
    std::shared_future<void> released = release.get_future().share();
    lib.set_file_callbacks(
        [&](const std::string&) {
            in_callback = true;
            released.wait();
            callback_done = true;
        },
        nullptr, nullptr, nullptr);
    write_file(samples / "one/a.wav", "x");
    ASSERT_TRUE(wait_until([&] { return in_callback.load(); }));

    bool done_at_switch = false;
    std::thread switcher([&] {
        lib.set_active_sample_pack((samples / "two").string());
        done_at_switch = callback_done;
        switched = true;
    });
    EXPECT_FALSE(wait_until([&] { return switched.load(); }, std::chrono::milliseconds(200)));
    release.set_value();
    switcher.join();
    EXPECT_TRUE(done_at_switch);
}

TEST(UserLibTest, UnexpectedActionCodeIsReportedOnStandardOutput) {
    TempDir base;
    fs::create_directories(base.path() / "samples/p");
    UserLib lib((base.path() / "samples").string());
    lib.set_active_sample_pack((base.path() / "samples/p").string());
    SampleUpdateListener listener(lib);
    testing::internal::CaptureStdout();
    listener.handleFileAction(1, (base.path() / "samples/p/").string(), "x.wav",
                              static_cast<watch::Actions::Action>(7), "");
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "Should never happen!\n");
}

TEST(UserLibTest, TeardownWhileEventsAndCallbackChangesFlow) {
    TempDir base;
    const fs::path pack = base.path() / "samples/default";
    fs::create_directories(pack);
    for (int round = 0; round < 5; ++round) {
        auto lib = std::make_unique<UserLib>((base.path() / "samples").string());
        lib->set_active_sample_pack(pack.string());
        auto counter = std::make_shared<std::atomic<int>>(0);
        auto count = [counter](const std::string&) { ++*counter; };
        lib->set_file_callbacks(count, count, count,
                                [counter](const std::string&, const std::string&) { ++*counter; });
        for (int i = 0; i < 20; ++i) {
            // Appended rather than "f" + std::to_string(i): GCC 12 at -O3 warns
            // falsely (-Wrestrict) on a literal added to a temporary string.
            std::string name = "f";
            name += std::to_string(i);
            write_file(pack / (name + ".wav"), "x");
            lib->set_file_callbacks(count, count, count, nullptr);
            lib->get_sample_pack_names();
        }
        EXPECT_TRUE(wait_until([&] { return counter->load() > 0; }));
        lib.reset();  // while events are still arriving
    }
}

TEST(UserLibTest, LostEventsRelistThePacksAndReachTheMissedCallback) {
    const long queue_room = inotify_queue_room();
    if (queue_room == 0)
        GTEST_SKIP() << "the inotify queue's size is unknown or too large to fill";
    TempDir base;
    const fs::path samples = base.path() / "samples", pack = samples / "default";
    fs::create_directories(pack);
    fs::create_directories(samples / "flood");
    write_file(samples / "flood/a", "x");
    UserLib lib(samples.string());
    lib.set_active_sample_pack(pack.string());
    std::atomic<bool> in_callback{false};
    std::atomic<int> missed{0};
    std::promise<void> release;
    std::shared_future<void> released = release.get_future().share();
    lib.set_file_callbacks(
        [&](const std::string&) {
            if (!in_callback.exchange(true))
                released.wait();
        },
        nullptr, nullptr, nullptr, [&] { ++missed; });
    write_file(pack / "first.wav", "x");
    ASSERT_TRUE(wait_until([&] { return in_callback.load(); }));

    // Two events a rename: more than the queue holds, while the thread is held.
    overflow_inotify_queue(samples / "flood", queue_room);
    fs::create_directory(samples / "late");  // its event is lost
    release.set_value();

    EXPECT_TRUE(wait_until([&] { return missed > 0; }, std::chrono::seconds(60)));
    EXPECT_EQ(lib.get_sample_pack_names(),
              (std::vector<std::wstring>{L"default", L"flood", L"late"}));
}
