#include "string_utils.h"

#include <gtest/gtest.h>

#include <climits>
#include <cstdlib>
#include <ctime>
#include <regex>

namespace {

using Pieces = std::vector<std::string>;

TEST(StringUtils, TrimRemovesOnlySpaces) {
    EXPECT_EQ(trim("  kick  "), "kick");
    EXPECT_EQ(trim("\tkick "), "\tkick");
    EXPECT_EQ(trim("kick\n"), "kick\n");
    EXPECT_EQ(trim("a  b"), "a  b");
    EXPECT_EQ(trim("   "), "");
    EXPECT_EQ(trim(""), "");
    EXPECT_EQ(trim("x"), "x");
}

TEST(StringUtils, SplitDropsEmptyPieces) {
    EXPECT_EQ(split("a\n\nb\n", "\n"), (Pieces{"a", "b"}));
    EXPECT_EQ(split("\n", "\n"), Pieces{});
    EXPECT_EQ(split("", "\n"), Pieces{});
    EXPECT_EQ(split("single", "\n"), Pieces{"single"});
    EXPECT_EQ(split("\nlead", "\n"), Pieces{"lead"});
    // The separator is matched whole and occurrences do not overlap.
    EXPECT_EQ(split("a--b-c", "--"), (Pieces{"a", "b-c"}));
    EXPECT_EQ(split("a---b", "--"), (Pieces{"a", "-b"}));
    // An empty separator keeps the text whole.
    EXPECT_EQ(split("a\nb", ""), Pieces{"a\nb"});
    EXPECT_EQ(split("", ""), Pieces{});
}

TEST(StringUtils, ReplaceCharAndEndsWith) {
    EXPECT_EQ(replace_char("a/b/c", '/', '_'), "a_b_c");
    EXPECT_EQ(replace_char("", 'a', 'b'), "");
    EXPECT_TRUE(ends_with("kick.wav", ".wav"));
    EXPECT_FALSE(ends_with("wav", "kick.wav"));
    EXPECT_TRUE(ends_with("anything", ""));
    EXPECT_TRUE(ends_with("", ""));
    EXPECT_FALSE(ends_with("kick.WAV", ".wav"));
}

TEST(StringUtils, TinyStringIsAlwaysThreeCells) {
    const std::vector<std::pair<int, std::wstring>> cases = {
        {0, L"   "},       {5, L"5  "},       {9, L"9  "},    {10, L"10 "},   {12, L"12 "},
        {99, L"99 "},      {100, L"99 "},     {1000, L"99 "}, {-1, L"-1 "},   {-3, L"-3 "},
        {-10, L"-10"},     {-12, L"-12"},     {-100, L"-99"}, {-150, L"-99"}, {150, L"99 "},
        {INT_MIN, L"-99"}, {INT_MAX, L"99 "},
    };
    for (const auto& [value, expected] : cases) {
        EXPECT_EQ(to_tiny_string(value), expected) << value;
    }
}

TEST(StringUtils, PathsSplitAtLastSlashAndDot) {
    struct Case {
        std::string path, directory, name, extension;
    };
    const std::vector<Case> cases = {
        {"samples/default/kick.wav", "samples/default", "kick", "wav"},
        {"kick.x.wav", "", "kick.x", "wav"},
        {"a.b/kick", "a.b", "kick", ""},
        {"dir/.hidden", "dir", "", "hidden"},
        {"dir/kick.", "dir", "kick", ""},
        {"dir/", "dir", "", ""},
        {"/kick.wav", "", "kick", "wav"},
        {"/", "", "", ""},
        {"", "", "", ""},
        {"./quarn", ".", "quarn", ""},
        {"quarn", "", "quarn", ""},
    };
    for (const auto& c : cases) {
        const NameInfo info = get_extension(c.path);
        EXPECT_EQ(info.directory, c.directory) << c.path;
        EXPECT_EQ(info.name, c.name) << c.path;
        EXPECT_EQ(info.extension, c.extension) << c.path;
        EXPECT_EQ(get_directory(c.path), c.directory) << c.path;
    }
}

TEST(StringUtils, TimestampIsLocalTime) {
    const char* old_tz = std::getenv("TZ");
    const std::string saved = old_tz ? old_tz : "";

    setenv("TZ", "UTC0", 1);
    tzset();
    const std::string utc = get_file_timestamp();
    setenv("TZ", "XYZ-5", 1);  // five hours east of UTC
    tzset();
    const std::string east = get_file_timestamp();

    if (old_tz) {
        setenv("TZ", saved.c_str(), 1);
    } else {
        unsetenv("TZ");
    }
    tzset();

    const std::regex shape(R"(\d{4}-\d{2}-\d{2}\.\d{2}_\d{2}_\d{2})");
    ASSERT_TRUE(std::regex_match(utc, shape)) << utc;
    ASSERT_TRUE(std::regex_match(east, shape)) << east;
    auto hour = [](const std::string& stamp) { return std::stoi(stamp.substr(11, 2)); };
    EXPECT_EQ((hour(utc) + 5) % 24, hour(east)) << utc << " " << east;
}

}  // namespace
