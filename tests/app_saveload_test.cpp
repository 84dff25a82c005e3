#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <future>
#include <string>
#include <vector>

#include <picojson.h>

#include "CompositionFile.h"
#include "app_harness.h"

using namespace quarn_test;
using Lines = std::vector<std::string>;
namespace fs = std::filesystem;

namespace {

const char* const kRefused = "refused: names may not hold \"/\" or \"..\"";

picojson::value parse_json(const std::string& text) {
    picojson::value value;
    const std::string error = picojson::parse(value, text);
    EXPECT_EQ(error, "");
    return value;
}

std::string without_blanks(std::string text) {
    std::erase(text, ' ');
    return text;
}

// `line` gives `reply` (its start, however the reply is wrapped into lines)
// and leaves the instrument kick and the default pack as they were.
void expect_unchanged(AppHarness& quarn, const std::string& line, const std::string& reply) {
    const std::size_t queued = quarn.pending().size();
    ASSERT_FALSE(quarn.run(line)) << line;
    std::string replied;
    const Lines pending = quarn.pending();
    for (auto text = pending.begin() + static_cast<std::ptrdiff_t>(queued); text != pending.end();
         ++text)
        replied += *text;
    EXPECT_TRUE(without_blanks(replied).starts_with(without_blanks(reply)))
        << line << ": " << replied;
    EXPECT_EQ(quarn.instruments(), (Lines{"kick"})) << line;
    EXPECT_EQ(quarn.samples(), (Lines{"clap", "hh", "kick", "oh", "percy", "snare"})) << line;
}

}  // namespace

TEST(AppSaveLoad, RoundTripKeepsPackInstrumentsAndParts) {
    AppHarness quarn;
    ASSERT_TRUE(quarn.enter("save"));  // without a name: the file list
    EXPECT_EQ(quarn.output(), (Lines{"> save", "Files: "}));
    ASSERT_FALSE(quarn.run("use drovan"));
    ASSERT_FALSE(quarn.run("bd 0.5 #-#3 &2"));
    ASSERT_FALSE(quarn.run("=intro"));
    ASSERT_FALSE(quarn.run("sd ---#"));
    ASSERT_FALSE(quarn.run("save song"));

    const auto file = parse_json(read_file(quarn.base() / "song.json"));
    ASSERT_TRUE(file.is<picojson::object>());
    EXPECT_EQ(file.get("samplePack").to_str(), "drovan");
    const std::string saved = quarn.sequencer().to_json().serialize();

    ASSERT_FALSE(quarn.run("use default"));
    ASSERT_FALSE(quarn.run("kick #"));
    const auto queued = quarn.pending().size();
    ASSERT_FALSE(quarn.run("load song"));
    EXPECT_EQ(quarn.pending().size(), queued + 1);
    EXPECT_EQ(quarn.pending().back(), "file loaded!");
    EXPECT_EQ(quarn.samples(), (Lines{"bd", "cowbell", "rim", "sd", "shaker", "tom", "zap"}));
    EXPECT_EQ(quarn.sequencer().to_json().serialize(), saved);
    EXPECT_EQ(quarn.sequencer().get_state_names(), (Lines{"intro"}));

    ASSERT_FALSE(quarn.run("save alpha"));
    ASSERT_TRUE(quarn.enter("load"));
    EXPECT_EQ(quarn.output().back(), "alpha song ");
}

TEST(AppSaveLoad, SavingReplacesTheWholeFileAndSaysWhyItFailed) {
    AppHarness quarn;
    write_file(quarn.base() / "song.json", std::string(4000, ' ') + "{}");
    ASSERT_FALSE(quarn.run("save song"));
    EXPECT_TRUE(parse_json(read_file(quarn.base() / "song.json")).is<picojson::object>());
    EXPECT_TRUE(quarn.pending().empty());

    // A folder in the way: the rename fails, the folder stays, no temporary file is left.
    fs::create_directories(quarn.base() / "blocked.json" / "inside");
    ASSERT_FALSE(quarn.run("save blocked"));
    EXPECT_EQ(quarn.pending(), (Lines{"could not save blocked.json:", "Is a directory "}));
    for (const auto& entry : fs::directory_iterator(quarn.base()))
        EXPECT_FALSE(entry.path().filename().string().starts_with(".")) << entry.path();

    // Through a link: the file it points to gets the composition, the link stays.
    fs::create_directories(quarn.base() / "songs");
    write_file(quarn.base() / "songs" / "real.json", "{}");
    fs::create_symlink("songs/real.json", quarn.base() / "linked.json");
    ASSERT_FALSE(quarn.run("save linked"));
    EXPECT_TRUE(fs::is_symlink(quarn.base() / "linked.json"));
    EXPECT_TRUE(parse_json(read_file(quarn.base() / "songs" / "real.json")).contains("samplePack"));
    // Links in a loop: no file to write, and the links stay.
    fs::create_symlink("loop2.json", quarn.base() / "loop1.json");
    fs::create_symlink("loop1.json", quarn.base() / "loop2.json");
    ASSERT_FALSE(quarn.run("save loop1"));
    EXPECT_EQ(quarn.pending(),
              (Lines{"could not save blocked.json:", "Is a directory ",
                     "could not save loop1.json:", "Too many levels of symbolic links "}));
    EXPECT_TRUE(fs::is_symlink(quarn.base() / "loop1.json"));
    EXPECT_TRUE(fs::is_symlink(quarn.base() / "loop2.json"));

    // A pack whose folder name is no UTF-8 (an old archive's Latin-1 "latén"),
    // reached through a composition naming it: its name cannot go into the
    // file, so nothing is written.
    const std::string latin1 = "lat\xe9n";
    fs::create_directories(quarn.pack(latin1));
    write_wav(quarn.pack(latin1) / "gong.wav");
    write_file(quarn.base() / "old.json", "{\"samplePack\": \"" + latin1 + "\"}");
    ASSERT_FALSE(quarn.run("load old"));
    EXPECT_EQ(quarn.pending().back(), "file loaded!");
    EXPECT_EQ(quarn.samples(), (Lines{"gong"}));
    ASSERT_FALSE(quarn.run("save x"));
    const Lines replied = quarn.pending();
    EXPECT_EQ(Lines(replied.end() - 2, replied.end()),
              (Lines{"could not save x.json:", "the pack's folder name is not UTF-8 "}));
    EXPECT_FALSE(fs::exists(quarn.base() / "x.json"));

    AppHarness missing(false);
    fs::remove_all(missing.base());
    ASSERT_FALSE(missing.run("save song"));
    EXPECT_EQ(missing.pending(),
              (Lines{"could not save song.json:", "No such file or directory "}));
}

TEST(AppSaveLoad, EverySaveLoadsBackPrettyPrintedCompactOrNotAtAll) {
    // A song whose size is set by the length of an instrument's name (a
    // file may name instruments the pack has no sample for).
    AppHarness quarn;
    auto load_song = [&quarn](std::size_t name_length) {
        write_file(quarn.base() / "in.json",
                   R"({"samplePack": "default", "activeInstruments": [)"
                   R"({"name": "kick", "patternRaw": "#-", "volume": 1}, {"name": ")" +
                       std::string(name_length, 'n') + R"(", "patternRaw": "-", "volume": 1}]})");
        ASSERT_FALSE(quarn.run("load in"));
        ASSERT_EQ(quarn.pending().back(), "file loaded!");
    };
    // Two changes, each making the song a little larger, measured on a small
    // song, which is saved pretty-printed: a volume of more digits, a shuffle
    // of two.
    const char* const changes[] = {"kick 0.7 #-", "kick 0.7 #- &12"};
    std::vector<std::size_t> compact;
    load_song(1);
    for (const char* change : changes) {
        ASSERT_FALSE(quarn.run(change)) << change;
        ASSERT_FALSE(quarn.run("save small"));
        const std::string small = read_file(quarn.base() / "small.json");
        EXPECT_NE(small.find('\n'), std::string::npos);
        compact.push_back(parse_json(small).serialize().size());
    }
    ASSERT_LT(compact[0], compact[1]);

    // The song made larger, so that after the first change it is compact at
    // the limit (pretty-printed it is larger): written so, and loaded back.
    const std::size_t length = kLargestComposition - compact[0] + 1;
    const auto big = quarn.base() / "big.json";
    load_song(length);
    ASSERT_FALSE(quarn.run(changes[0]));
    ASSERT_FALSE(quarn.run("save big"));
    EXPECT_EQ(fs::file_size(big), kLargestComposition);
    ASSERT_FALSE(quarn.run("/"));
    ASSERT_FALSE(quarn.run("load big"));
    EXPECT_EQ(quarn.pending().back(), "file loaded!");
    const Lines names = quarn.instruments();
    ASSERT_EQ(names.size(), 2u);
    EXPECT_EQ(names[1].size(), length);

    // Larger even compact: refused, and the file before stays.
    ASSERT_FALSE(quarn.run(changes[1]));
    ASSERT_FALSE(quarn.run("save big"));
    const Lines replied = quarn.pending();
    EXPECT_EQ(
        Lines(replied.end() - 2, replied.end()),
        (Lines{"could not save big.json:", "it would be larger than the 64 MB a load reads "}));
    EXPECT_EQ(fs::file_size(big), kLargestComposition);
}

TEST(AppSaveLoad, ASaveRemovesTheTemporariesThatKilledSavesLeftAndNoOtherFile) {
    AppHarness quarn;
    const Lines stale = {".quarn-save-Ab12cZ", ".quarn-save-000000"};
    // A user's files beside the composition, names not of a temporary's form,
    // or a save of another process still at work: recent, or old but locked
    // by its writer.
    const Lines kept = {".songa.json.backup", ".songa.json.orig12",  ".songa.json.Ab12cZ",
                        ".quarn-save-Ab12c",  ".quarn-save-Ab12cZ7", "quarn-save-Ab12cZ",
                        ".quarn-save-new000", ".quarn-save-locked"};
    const auto long_ago = fs::file_time_type::clock::now() - std::chrono::minutes(2);
    for (const auto& name : stale) {
        write_file(quarn.base() / name, "{\"half");
        fs::last_write_time(quarn.base() / name, long_ago);
    }
    for (const auto& name : kept) {
        write_file(quarn.base() / name, "mine");
        if (name != ".quarn-save-new000")
            fs::last_write_time(quarn.base() / name, long_ago);
    }
    const int writer = ::open((quarn.base() / ".quarn-save-locked").c_str(), O_RDONLY);
    ASSERT_EQ(::flock(writer, LOCK_EX), 0);
    ASSERT_FALSE(quarn.run("save songa"));
    ::close(writer);
    for (const auto& name : stale)
        EXPECT_FALSE(fs::exists(quarn.base() / name)) << name;
    for (const auto& name : kept)
        EXPECT_EQ(read_file(quarn.base() / name), "mine") << name;
    EXPECT_TRUE(parse_json(read_file(quarn.base() / "songa.json")).is<picojson::object>());

    // The temporary's name is short: every name the folder takes saves, and
    // loads back; one longer is refused by the folder, and says so.
    const auto name_max = ::pathconf(quarn.base().c_str(), _PC_NAME_MAX);
    ASSERT_GT(name_max, 5);
    const std::string longest(static_cast<std::size_t>(name_max) - 5, 'n');
    ASSERT_FALSE(quarn.run("save " + longest));
    EXPECT_TRUE(fs::exists(quarn.base() / (longest + ".json")));
    ASSERT_FALSE(quarn.run("load " + longest));
    EXPECT_EQ(quarn.pending().back(), "file loaded!");
    ASSERT_FALSE(quarn.run("save " + longest + "n"));
    EXPECT_EQ(quarn.pending().back(), "File name too long ");

    // Two savers of one name at once (two programs in one folder) never
    // break each other's save.
    const std::string path = (quarn.base() / "shared.json").string();
    auto save_many = [&path](const std::string& text) {
        int failed = 0;
        for (int i = 0; i < 200; ++i) {
            std::string error;
            failed += write_composition_file(path, text, error) ? 0 : 1;
        }
        return failed;
    };
    auto other = std::async(std::launch::async, save_many, "{\"by\": 2}");
    EXPECT_EQ(save_many("{\"by\": 1}"), 0);
    EXPECT_EQ(other.get(), 0);
    EXPECT_TRUE(parse_json(read_file(path)).is<picojson::object>());
}

TEST(AppSaveLoad, FilesThatAreNoCompositionChangeNothing) {
    AppHarness quarn;
    ASSERT_FALSE(quarn.run("kick #-"));
    write_file(quarn.base() / "empty.json", "  \n");
    write_file(quarn.base() / "list.json", "[1, 2]");
    write_file(quarn.base() / "cut.json", R"({"samplePack": "drovan", "patterns": [)");
    write_file(quarn.base() / "tail.json", R"({"samplePack": "drovan"} {})");
    fs::create_directories(quarn.base() / "folder.json");
    const std::pair<const char*, std::string> cases[] = {
        {"load missing", "file not found :("},
        {"load empty", "file not found :("},
        {"load folder", "file not found :("},
        {"load list", "file not found :("},
        {"load cut", "could not load cut.json: syntax error at line 1 "},
        {"load tail", "could not load tail.json: text after the end"},
        {"load ../song", kRefused},
        {"load ..", kRefused},
    };
    for (const auto& [line, reply] : cases)
        expect_unchanged(quarn, line, reply);
    ASSERT_FALSE(quarn.run("save ../escape"));
    EXPECT_EQ(quarn.pending().back(), kRefused);
    EXPECT_FALSE(fs::exists(quarn.base().parent_path() / "escape.json"));
}

TEST(AppSaveLoad, ADeeplyNestedFileIsRefusedBeforeItIsParsed) {
    AppHarness quarn;
    ASSERT_FALSE(quarn.run("kick #-"));
    std::string nested = R"({"samplePack": "drovan", "a": )";
    for (int i = 0; i < 100000; ++i)
        nested += R"({"a": )";
    write_file(quarn.base() / "nested.json", nested);
    expect_unchanged(quarn, "load nested",
                     "could not load nested.json: nested deeper than 100 levels");

    // Brackets inside strings are no nesting.
    const std::string brackets(200, '{');
    write_file(quarn.base() / "strings.json",
               R"({"bpm": 90, "name": "\")" + brackets + R"(", "x": [")" + brackets + R"("]})");
    ASSERT_FALSE(quarn.run("load strings"));
    EXPECT_EQ(quarn.pending().back(), "file loaded!");
    EXPECT_EQ(quarn.sequencer().bpm, 90);
}

TEST(AppSaveLoad, ANumberBeyondTheDoubleRangeIsAMalformedFile) {
    AppHarness quarn;
    ASSERT_FALSE(quarn.run("kick #-"));
    write_file(quarn.base() / "huge.json", R"({"samplePack": "drovan", "bpm": 1e400})");
    expect_unchanged(quarn, "load huge", "could not load huge.json: a number out of range");
}

TEST(AppSaveLoad, OnlyRegularFilesOfASaneSizeAreRead) {
    AppHarness quarn;
    ASSERT_FALSE(quarn.run("kick #-"));
    // A FIFO with no writer: opening it for reading the usual way waits forever.
    ASSERT_EQ(::mkfifo((quarn.base() / "fifo.json").c_str(), 0644), 0);
    // A file that never ends.
    fs::create_symlink("/dev/zero", quarn.base() / "zero.json");
    // Sparse: 64 MB and one byte, no space taken.
    write_file(quarn.base() / "large.json", "{");
    fs::resize_file(quarn.base() / "large.json", 64 * 1024 * 1024 + 1);
    expect_unchanged(quarn, "load fifo", "file not found :(");
    expect_unchanged(quarn, "load zero", "file not found :(");
    expect_unchanged(quarn, "load large", "could not load large.json: larger than 64 MB");
}

TEST(AppSaveLoad, TheFilesPackDecidesBeforeItsPatternsAreRead) {
    AppHarness quarn;
    const std::string patterns =
        R"("bpm": 90, "activeInstruments": [{"name": "kick", "patternRaw": "#-", "volume": 1}])";
    write_file(quarn.base() / "nopack.json", "{" + patterns + "}");
    write_file(quarn.base() / "listpacks.json", R"({"samplePack": "", )" + patterns + "}");
    write_file(quarn.base() / "escape.json", R"({"samplePack": "../x", )" + patterns + "}");
    // The system would read the name only up to its NUL: a pack, but not this one.
    write_file(quarn.base() / "nul.json", R"({"samplePack": "drovan\u0000x", )" + patterns + "}");

    // No pack named: loaded over the current pack.
    ASSERT_TRUE(quarn.enter("load nopack"));
    EXPECT_EQ(quarn.output().back(), "file loaded!");
    EXPECT_EQ(quarn.instruments(), (Lines{"kick"}));
    EXPECT_EQ(quarn.sequencer().bpm, 90);

    // An empty pack name lists the packs, then loads.
    ASSERT_TRUE(quarn.enter("use drovan"));
    ASSERT_TRUE(quarn.enter("load listpacks"));
    const auto shown = quarn.output();
    EXPECT_EQ(Lines(shown.end() - 4, shown.end()),
              (Lines{"> load listpacks", "Sample packs: ", "default drovan ", "file loaded!"}));
    EXPECT_EQ(quarn.instruments(), (Lines{"kick"}));

    // A pack outside the samples folder, or named with a NUL: refused, nothing changes.
    ASSERT_TRUE(quarn.enter("use default"));
    for (const char* line : {"load escape", "load nul"}) {
        ASSERT_TRUE(quarn.enter(line));
        EXPECT_EQ(quarn.output().back(), kRefused) << line;
        EXPECT_TRUE(quarn.instruments().empty()) << line;
        EXPECT_EQ(quarn.samples().front(), "clap") << line;
    }
    ASSERT_TRUE(quarn.enter("save after"));
    EXPECT_EQ(parse_json(read_file(quarn.base() / "after.json")).get("samplePack").to_str(),
              "default");
}
