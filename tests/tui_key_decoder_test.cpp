#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tui/component/key_decoder.h"

using namespace tui;

namespace {

std::string describe(const std::vector<Event>& events) {
    std::string text;
    // Appended piece by piece: GCC 12 at -O3 warns falsely (-Wrestrict) on a
    // literal added to a temporary string.
    for (const Event& event : events) {
        if (!text.empty())
            text += ' ';
        text += event.DebugString();
    }
    return text;
}

// The events of `bytes` fed at once, and fed one byte per read.
std::vector<Event> decode(const std::string& bytes, bool byte_by_byte = false) {
    InputDecoder decoder;
    std::vector<Event> events;
    if (byte_by_byte) {
        for (char c : bytes)
            decoder.Feed(std::string(1, c), events);
    } else {
        decoder.Feed(bytes, events);
    }
    decoder.Flush(events);
    return events;
}

std::string x10(int code, int x, int y) {
    return std::string("\x1b[M") + static_cast<char>(32 + code) + static_cast<char>(33 + x) +
           static_cast<char>(33 + y);
}

}  // namespace

TEST(TuiKeyDecoder, BytesBecomeKeysTextAndNothingOfUnknownSequences) {
    struct Case {
        std::string bytes;
        std::string events;
    };
    const Case cases[] = {
        // Keys in their CSI and SS3 forms, with and without modifiers.
        {"\x1b[A\x1b[B\x1b[C\x1b[D", "ArrowUp ArrowDown ArrowRight ArrowLeft"},
        {"\x1bOA\x1bOB\x1bOC\x1bOD", "ArrowUp ArrowDown ArrowRight ArrowLeft"},
        {"\x1b[1;5D\x1b[1;2A\x1b[5C", "ArrowLeft ArrowUp ArrowRight"},
        {"\x1b[H\x1b[F\x1bOH\x1bOF\x1b[1;5H\x1b[1;2F", "Home End Home End Home End"},
        {"\x1b[1~\x1b[4~\x1b[7~\x1b[8~\x1b[7$\x1b[8^\x1b[1;3~", "Home End Home End Home End Home"},
        {"\x1b[2~\x1b[3~\x1b[3;5~\x1b[5~\x1b[6~\x1b[6;2~",
         "Insert Delete Delete PageUp PageDown PageDown"},
        {"\x1bOP\x1b[1;2Q\x1b[15~\x1b[17~\x1b[24;5~\x1b[[E", "F1 F2 F5 F6 F12 F5"},
        {"\x1b[Z\x1bOM", "TabReverse Return"},
        // What the field showed typed before: "kick" and nothing else.
        {"kick\x1b[7~\x1b[8~\x1bOH\x1bOF\x1b[H\x1b[F\x1b[200~\x1b[201~",
         "Character(k) Character(i) Character(c) Character(k) Home End Home End Home End"},
        // Unknown sequences go whole, also over-long ones and Alt chords.
        {"a\x1b[?1;2cb", "Character(a) Character(b)"},
        {"\x1b[I\x1b[O\x1b[E\x1b[99~\x1b[1;5u\x1b[2 q\x1bOx\x1bxy", "Character(y)"},
        {"\x1b[" + std::string(100, '1') + "~z", "Character(z)"},
        {"\x1b[1\x01w", "Character(w)"},  // a control byte breaks a sequence off
        // A paste is characters only: its line ends and key bytes press nothing.
        {"\x1b[200~ab\r\tc\x1b[A\x1b\x1b[201~\r", "Character(a) Character(b) Character(c) Return"},
        // Control bytes, the Escape key, UTF-8 text and malformed bytes.
        {"\t\r\n\x7f\x08\x01\x1f", "Tab Return Return Backspace Backspace"},
        {"\x1b", "Escape"},
        {"\x1b\x1b[A", "Escape ArrowUp"},
        {"\xc3\xa9\xe4\xb8\xad\xf0\x9f\xa5\x81", "Character(é) Character(中) Character(🥁)"},
        {"\xff\xc0\xaf\xed\xa0\x80\xc2\x9b\xc3"
         "a\xe4\xb8",
         "Character(a)"},
        // Mouse reports, SGR and X10.
        {"\x1b[<0;8;4M\x1b[<0;8;4m",
         "Mouse(button 0, motion 1, 7,3) Mouse(button 0, motion 0, 7,3)"},
        {"\x1b[<1;1;1M\x1b[<2;300;90M",
         "Mouse(button 1, motion 1, 0,0) Mouse(button 2, motion 1, 299,89)"},
        {"\x1b[<64;5;5M\x1b[<65;5;5M\x1b[<66;5;5M",
         "Mouse(button 4, motion 1, 4,4) Mouse(button 5, motion 1, 4,4)"},
        {"\x1b[<35;2;3M\x1b[<32;2;3M",
         "Mouse(button 3, motion 2, 1,2) Mouse(button 0, motion 2, 1,2)"},
        {x10(2, 7, 3) + x10(3, 7, 3) + x10(64, 1, 1),
         "Mouse(button 2, motion 1, 7,3) Mouse(button 2, motion 0, 7,3) Mouse(button 4, motion 1, "
         "1,1)"},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(describe(decode(c.bytes)), c.events) << c.bytes;
        EXPECT_EQ(describe(decode(c.bytes, true)), c.events) << "byte by byte: " << c.bytes;
    }
    const auto modified = decode("\x1b[<28;1;1M");  // 4 shift + 8 meta + 16 control
    ASSERT_EQ(modified.size(), 1u);
    EXPECT_TRUE(modified[0].mouse().shift && modified[0].mouse().meta &&
                modified[0].mouse().control);
}

TEST(TuiKeyDecoder, AnUnfinishedSequenceWaitsForTheNextRead) {
    InputDecoder decoder;
    std::vector<Event> events;
    decoder.Feed("x\x1b[20", events);
    EXPECT_TRUE(decoder.Pending());
    decoder.Feed("0~pasted\r\x1b[201~", events);
    EXPECT_FALSE(decoder.Pending());
    EXPECT_EQ(describe(events),
              "Character(x) Character(p) Character(a) Character(s) Character(t) Character(e) "
              "Character(d)");
    // The rest that never comes: dropped, not typed.
    events.clear();
    decoder.Feed("\x1b[1;5", events);
    decoder.Flush(events);
    decoder.Feed("q", events);
    EXPECT_EQ(describe(events), "Character(q)");
}
