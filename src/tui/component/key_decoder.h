#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "tui/component/event.h"

namespace tui {

// Turns the bytes a terminal sends into events, whatever its terminfo entry
// says: UTF-8 text; Tab, Return, Backspace; the CSI and SS3 forms of the
// arrows, Home, End, Insert, Delete, PageUp, PageDown and the function keys,
// with or without modifier parameters; mouse reports in the SGR and X10
// forms; text between bracketed-paste markers as characters. Any other escape
// sequence is consumed whole (a CSI up to its final byte, an SS3 with its one
// byte) without a byte of it becoming text. Sequences may arrive split over
// several reads. Pure; one decoder per input stream, used by one thread.
class InputDecoder {
  public:
    // Decodes `bytes`, appending the events they complete.
    void Feed(std::string_view bytes, std::vector<Event>& events);
    // True while a sequence or a character is unfinished.
    bool Pending() const { return state_ != State::Ground; }
    // No more bytes came in time: a lone ESC is the Escape key, an unfinished
    // sequence or character is dropped.
    void Flush(std::vector<Event>& events);

  private:
    enum class State { Ground, Utf8, Escape, Csi, Ss3, LinuxFunction, X10Mouse };

    void Byte(unsigned char byte, std::vector<Event>& events);
    void Ground(unsigned char byte, std::vector<Event>& events);
    void Utf8(unsigned char byte, std::vector<Event>& events);
    void Csi(unsigned char byte, std::vector<Event>& events);
    void FinishCsi(unsigned char final_byte, std::vector<Event>& events);
    void X10Mouse(std::vector<Event>& events);
    void Emit(Event event, std::vector<Event>& events);

    State state_ = State::Ground;
    std::string sequence_;  // the bytes of the unfinished sequence after its introducer
    bool sequence_too_long_ = false;
    std::uint32_t code_point_ = 0;
    int utf8_missing_ = 0;
    std::uint32_t utf8_smallest_ = 0;
    bool in_paste_ = false;
    Mouse::Button x10_pressed_ = Mouse::Left;  // X10 releases do not say which button
};

}  // namespace tui
