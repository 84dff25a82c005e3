#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <future>
#include <mutex>
#include <stdexcept>
#include <thread>

#include "test_support.h"
#include "watch/FileWatcher.h"

using namespace quarn_test;
namespace fs = std::filesystem;
using watch::Actions::Action;

namespace {

// Records events as "added sub/x.wav" (path relative to `root`), "moved a <- b".
class RecordingListener : public watch::FileWatchListener {
  public:
    explicit RecordingListener(const fs::path& root) : root(root.string() + "/") {}

    void handleFileAction(watch::WatchID, const std::string& dir, const std::string& filename,
                          Action action, std::string old_filename) override {
        static const char* names[] = {"?", "added", "deleted", "modified", "moved"};
        std::string line = std::string(names[action]) + " " + relative(dir) + filename;
        if (action == watch::Actions::Moved)
            line += " <- " + old_filename;
        std::lock_guard<std::mutex> lock(mutex);
        lines.push_back(line);
    }
    void handleMissedFileActions(watch::WatchID, const std::string& dir) override {
        std::lock_guard<std::mutex> lock(mutex);
        lines.push_back("missed " + relative(dir));
    }

    bool saw(const std::string& line) {
        return wait_until([&] { return count(line) > 0; });
    }
    int count(const std::string& line) {
        std::lock_guard<std::mutex> lock(mutex);
        return static_cast<int>(std::count(lines.begin(), lines.end(), line));
    }

  private:
    // A `dir` without its closing "/" would glue folder and file name together.
    std::string relative(const std::string& dir) { return dir.substr(root.size()); }

    std::string root;
    std::mutex mutex;
    std::vector<std::string> lines;
};

// Every case runs over inotify and over the polling that stands in for it.
class FileWatcherTest : public testing::TestWithParam<bool> {
  protected:
    bool polling() const { return GetParam(); }
};

INSTANTIATE_TEST_SUITE_P(Mechanism, FileWatcherTest, testing::Values(false, true),
                         [](const auto& info) { return info.param ? "Polling" : "Inotify"; });

}  // namespace

TEST_P(FileWatcherTest, RecursiveWatchFollowsFoldersCreatedLater) {
    TempDir dir, flat_dir;
    RecordingListener listener(dir.path()), flat(flat_dir.path());
    watch::FileWatcher watcher(polling());
    ASSERT_GT(watcher.addWatch(dir.str(), &listener, true), 0);
    ASSERT_GT(watcher.addWatch(flat_dir.str(), &flat, false), 0);
    watcher.watch();

    // Written at once, before the watcher can have seen the folders.
    fs::create_directories(dir.path() / "a/b");
    write_file(dir.path() / "a/b/deep.wav", "x");
    EXPECT_TRUE(listener.saw("added a/b"));
    EXPECT_TRUE(listener.saw("added a/b/deep.wav"));
    write_file(dir.path() / "a/b/deep.wav", "changed");
    EXPECT_TRUE(listener.saw("modified a/b/deep.wav"));
    fs::rename(dir.path() / "a/b/deep.wav", dir.path() / "a/b/bd.wav");
    EXPECT_TRUE(listener.saw("moved a/b/bd.wav <- deep.wav"));
    fs::remove(dir.path() / "a/b/bd.wav");
    EXPECT_TRUE(listener.saw("deleted a/b/bd.wav"));

    // A watch that is not recursive sees the folder but nothing inside it.
    fs::create_directory(flat_dir.path() / "sub");
    write_file(flat_dir.path() / "sub/inner.wav", "x");
    write_file(flat_dir.path() / "top.wav", "x");
    EXPECT_TRUE(flat.saw("added top.wav"));
    EXPECT_EQ(flat.count("added sub"), 1);
    EXPECT_EQ(flat.count("added sub/inner.wav"), 0);
}

TEST_P(FileWatcherTest, MovesAcrossFoldersAndOutsideBecomeAddsAndDeletes) {
    TempDir dir, outside;
    RecordingListener listener(dir.path());
    fs::create_directory(dir.path() / "sub");
    fs::create_directory(dir.path() / "folder");
    for (const char* name : {"a.wav", "b.wav"})
        write_file(dir.path() / name, "x");
    write_file(outside.path() / "c.wav", "x");
    watch::FileWatcher watcher(polling());
    ASSERT_GT(watcher.addWatch(dir.str(), &listener, true), 0);
    watcher.watch();

    fs::rename(dir.path() / "a.wav", dir.path() / "sub/a.wav");
    EXPECT_TRUE(listener.saw("deleted a.wav"));
    EXPECT_TRUE(listener.saw("added sub/a.wav"));
    fs::rename(dir.path() / "b.wav", outside.path() / "b.wav");
    EXPECT_TRUE(listener.saw("deleted b.wav"));
    fs::rename(outside.path() / "c.wav", dir.path() / "c.wav");
    EXPECT_TRUE(listener.saw("added c.wav"));

    // A renamed folder keeps being watched under its new name...
    fs::rename(dir.path() / "folder", dir.path() / "renamed");
    EXPECT_TRUE(listener.saw("moved renamed <- folder"));
    write_file(dir.path() / "renamed/n.wav", "x");
    EXPECT_TRUE(listener.saw("added renamed/n.wav"));
    // ...and one moved out is not watched any more.
    fs::rename(dir.path() / "renamed", outside.path() / "gone");
    EXPECT_TRUE(listener.saw("deleted renamed"));
    write_file(outside.path() / "gone/late.wav", "x");
    write_file(dir.path() / "marker.wav", "x");
    EXPECT_TRUE(listener.saw("added marker.wav"));
    EXPECT_EQ(listener.count("added renamed/late.wav") + listener.count("added gone/late.wav"), 0);
}

TEST_P(FileWatcherTest, RefusesWatchesItCannotKeep) {
    TempDir dir;
    RecordingListener listener(dir.path());
    fs::create_directories(dir.path() / "inner");
    write_file(dir.path() / "file.wav", "x");
    watch::FileWatcher watcher(polling());
    EXPECT_EQ(watcher.addWatch((dir.path() / "missing").string(), &listener, true),
              watch::Errors::FileNotFound);
    EXPECT_EQ(watcher.addWatch((dir.path() / "file.wav").string(), &listener, true),
              watch::Errors::FileNotFound);
    const auto top = watcher.addWatch(dir.str(), &listener, true);
    EXPECT_GT(top, 0);
    // Already held by the recursive watch, under any spelling.
    EXPECT_EQ(watcher.addWatch(dir.str() + "/inner/", &listener, false),
              watch::Errors::FileRepeated);
    watcher.removeWatch(top);
    watcher.removeWatch(12345);
    EXPECT_GT(watcher.addWatch(dir.str() + "/inner/", &listener, false), 0);
}

namespace {

// Holds the watcher's thread inside its first callback until released.
class BlockingListener : public watch::FileWatchListener {
  public:
    void handleFileAction(watch::WatchID, const std::string&, const std::string&, Action,
                          std::string) override {
        if (++calls > 1)
            return;
        released.wait();
        callback_done = true;
    }
    std::promise<void> release;
    std::shared_future<void> released = release.get_future().share();
    std::atomic<int> calls{0};
    std::atomic<bool> callback_done{false};
};

}  // namespace

TEST_P(FileWatcherTest, RemoveWatchWaitsForRunningCallbackAndSilencesTheWatch) {
    TempDir dir, other_dir;
    BlockingListener blocking;
    RecordingListener other(other_dir.path());
    watch::FileWatcher watcher(polling());
    const auto id = watcher.addWatch(dir.str(), &blocking, false);
    ASSERT_GT(watcher.addWatch(other_dir.str(), &other, false), 0);
    watcher.watch();
    write_file(dir.path() / "first.wav", "x");
    ASSERT_TRUE(wait_until([&] { return blocking.calls == 1; }));

    std::atomic<bool> removed{false};
    bool done_when_removed = false;
    int calls_when_removed = 0;
    std::thread remover([&] {
        watcher.removeWatch(id);
        done_when_removed = blocking.callback_done;
        calls_when_removed = blocking.calls;
        removed = true;
    });
    EXPECT_FALSE(wait_until([&] { return removed.load(); }, std::chrono::milliseconds(200)));
    blocking.release.set_value();
    remover.join();
    EXPECT_TRUE(done_when_removed);

    // Events after the removal never arrive: the other watch's later event
    // proves the thread has gone past them.
    write_file(dir.path() / "second.wav", "x");
    write_file(other_dir.path() / "marker.wav", "x");
    EXPECT_TRUE(other.saw("added marker.wav"));
    EXPECT_EQ(blocking.calls, calls_when_removed);
}

namespace {

// Records like RecordingListener, but throws on the files "boom.wav"
// (a std::exception) and "odd.wav" (anything else).
class ThrowingListener : public RecordingListener {
  public:
    using RecordingListener::RecordingListener;
    void handleFileAction(watch::WatchID id, const std::string& dir, const std::string& filename,
                          Action action, std::string old_filename) override {
        if (filename == "boom.wav")
            throw std::runtime_error("no room for " + filename);
        if (filename == "odd.wav")
            throw 42;
        RecordingListener::handleFileAction(id, dir, filename, action, old_filename);
    }
};

}  // namespace

TEST_P(FileWatcherTest, AListenerThatThrowsIsToldAndTheWatchingGoesOn) {
    TempDir dir;
    ThrowingListener listener(dir.path());
    std::mutex mutex;
    std::vector<std::string> failures;
    watch::FileWatcher watcher(polling(), [&](const std::string& path, const std::string& what) {
        std::lock_guard<std::mutex> lock(mutex);
        failures.push_back(path.substr(dir.str().size()) + ": " + what);
    });
    ASSERT_GT(watcher.addWatch(dir.str(), &listener, true), 0);
    watcher.watch();
    write_file(dir.path() / "boom.wav", "x");
    write_file(dir.path() / "odd.wav", "x");
    EXPECT_TRUE(wait_until([&] {
        std::lock_guard<std::mutex> lock(mutex);
        return failures.size() == 2;
    }));
    write_file(dir.path() / "after.wav", "x");
    EXPECT_TRUE(listener.saw("added after.wav"));
    std::lock_guard<std::mutex> lock(mutex);
    std::sort(failures.begin(), failures.end());
    EXPECT_EQ(failures, (std::vector<std::string>{"/boom.wav: no room for boom.wav",
                                                  "/odd.wav: an unknown error"}));
}

TEST(InotifyWatcherTest, NewFileIsAddedOnceItsWriterClosesIt) {
    TempDir dir, outside;
    RecordingListener listener(dir.path());
    watch::FileWatcher watcher;
    ASSERT_GT(watcher.addWatch(dir.str(), &listener, true), 0);
    watcher.watch();
    {
        std::ofstream slow(dir.path() / "slow.wav", std::ios::binary);
        slow << "first half";
        slow.flush();
        // The marker's events come after the creation of slow.wav.
        write_file(dir.path() / "marker1.wav", "x");
        ASSERT_TRUE(listener.saw("added marker1.wav"));
        EXPECT_EQ(listener.count("added slow.wav"), 0);
        slow << "second half";
    }
    EXPECT_TRUE(listener.saw("added slow.wav"));
    write_file(dir.path() / "marker2.wav", "x");
    ASSERT_TRUE(listener.saw("added marker2.wav"));
    EXPECT_EQ(listener.count("added slow.wav"), 1);
    EXPECT_EQ(listener.count("modified slow.wav"), 0);
    write_file(dir.path() / "slow.wav", "rewritten");
    EXPECT_TRUE(listener.saw("modified slow.wav"));

    // A name that arrives whole is reported at once, though nothing closes it here.
    write_file(outside.path() / "linked.wav", "x");
    fs::create_hard_link(outside.path() / "linked.wav", dir.path() / "linked.wav");
    EXPECT_TRUE(listener.saw("added linked.wav"));
}

namespace {

// Records like RecordingListener, but holds the watcher's thread in its first
// callback until released.
class HoldingListener : public RecordingListener {
  public:
    using RecordingListener::RecordingListener;
    void handleFileAction(watch::WatchID id, const std::string& dir, const std::string& filename,
                          Action action, std::string old_filename) override {
        if (!held.exchange(true))
            released.wait();
        RecordingListener::handleFileAction(id, dir, filename, action, old_filename);
    }
    std::promise<void> release;
    std::shared_future<void> released = release.get_future().share();
    std::atomic<bool> held{false};
};

}  // namespace

TEST(InotifyWatcherTest, LostEventsAreReportedAndFoldersMadeMeanwhileAreWatched) {
    const long queue_room = inotify_queue_room();
    if (queue_room == 0)
        GTEST_SKIP() << "the inotify queue's size is unknown or too large to fill";
    TempDir dir;
    fs::create_directory(dir.path() / "flood");
    write_file(dir.path() / "flood/a", "x");
    HoldingListener listener(dir.path());
    watch::FileWatcher watcher;
    ASSERT_GT(watcher.addWatch(dir.str(), &listener, true), 0);
    watcher.watch();
    write_file(dir.path() / "first.wav", "x");
    ASSERT_TRUE(wait_until([&] { return listener.held.load(); }));

    // Two events a rename: more than the queue holds, while the thread is held.
    overflow_inotify_queue(dir.path() / "flood", queue_room);
    fs::create_directory(dir.path() / "late");  // its event is lost
    listener.release.set_value();

    EXPECT_TRUE(listener.saw("missed "));
    write_file(dir.path() / "late/x.wav", "x");
    EXPECT_TRUE(listener.saw("added late/x.wav"));
}
