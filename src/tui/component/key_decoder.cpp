#include "tui/component/key_decoder.h"

#include <optional>
#include <utility>

namespace tui {
namespace {

constexpr unsigned char kEsc = 0x1B;
constexpr std::size_t kLongestSequence = 32;  // longer ones are consumed, not kept

Event function_key(int number) {
    // Appended rather than "F" + std::to_string(...): GCC 12 at -O3 warns
    // falsely (-Wrestrict) on a literal added to a temporary string.
    std::string name = "F";
    name += std::to_string(number);
    return Event::Special(std::move(name));
}

// The parameters of a CSI sequence as numbers; a missing one is 0.
std::vector<int> numbers_of(std::string_view parameters) {
    std::vector<int> numbers{0};
    bool sub_parameter = false;
    for (char c : parameters) {
        if (c == ';') {
            numbers.push_back(0);
            sub_parameter = false;
        } else if (c == ':') {
            sub_parameter = true;  // colour-style sub-parameters: only the first counts
        } else if (c >= '0' && c <= '9' && !sub_parameter && numbers.back() < 100000) {
            numbers.back() = numbers.back() * 10 + (c - '0');
        }
    }
    return numbers;
}

// "CSI number ~" keys (VT220, xterm, rxvt): the number decides, modifiers do not.
std::optional<Event> tilde_key(int number) {
    switch (number) {
        case 1:
        case 7:
            return Event::Home;
        case 2:
            return Event::Special("Insert");
        case 3:
            return Event::Delete;
        case 4:
        case 8:
            return Event::End;
        case 5:
            return Event::PageUp;
        case 6:
            return Event::PageDown;
        default:
            break;
    }
    if (number >= 11 && number <= 15)
        return function_key(number - 10);
    if (number >= 17 && number <= 21)
        return function_key(number - 11);
    if (number >= 23 && number <= 26)
        return function_key(number - 12);
    return std::nullopt;
}

// The keys that "CSI ... letter" and "SS3 letter" share.
std::optional<Event> letter_key(unsigned char letter) {
    switch (letter) {
        case 'A':
            return Event::ArrowUp;
        case 'B':
            return Event::ArrowDown;
        case 'C':
            return Event::ArrowRight;
        case 'D':
            return Event::ArrowLeft;
        case 'H':
            return Event::Home;
        case 'F':
            return Event::End;
        case 'P':
        case 'Q':
        case 'R':
        case 'S':
            return function_key(letter - 'P' + 1);
        default:
            return std::nullopt;
    }
}

Mouse::Button button_of(int code) {
    switch (code & 3) {
        case 0:
            return Mouse::Left;
        case 1:
            return Mouse::Middle;
        case 2:
            return Mouse::Right;
        default:
            return Mouse::None;
    }
}

// A mouse report's button code (SGR and X10 share its bits) at 0-based (x, y).
// `pressed` is false for an SGR release.
std::optional<Mouse> mouse_of(int code, int x, int y, bool pressed) {
    Mouse mouse;
    mouse.x = x < 0 ? 0 : x;
    mouse.y = y < 0 ? 0 : y;
    mouse.shift = (code & 4) != 0;
    mouse.meta = (code & 8) != 0;
    mouse.control = (code & 16) != 0;
    if (code & 64) {
        if (!pressed || (code & 3) > 1)
            return std::nullopt;  // horizontal wheels mean nothing here
        mouse.button = (code & 3) == 0 ? Mouse::WheelUp : Mouse::WheelDown;
        mouse.motion = Mouse::Pressed;
        return mouse;
    }
    mouse.button = button_of(code);
    if (code & 32)
        mouse.motion = Mouse::Moved;  // a drag with a button, or motion without one
    else
        mouse.motion = pressed ? Mouse::Pressed : Mouse::Released;
    return mouse;
}

// A decoded code point as a character event, or nothing for control characters.
std::optional<Event> character_of(std::uint32_t code) {
    if (code < 0x20 || (code >= 0x7F && code < 0xA0) || code > 0x10FFFF ||
        (code >= 0xD800 && code <= 0xDFFF))
        return std::nullopt;
    return Event::Character(static_cast<wchar_t>(code));
}

}  // namespace

void InputDecoder::Feed(std::string_view bytes, std::vector<Event>& events) {
    for (char c : bytes)
        Byte(static_cast<unsigned char>(c), events);
}

void InputDecoder::Flush(std::vector<Event>& events) {
    if (state_ == State::Escape)
        Emit(Event::Escape, events);
    state_ = State::Ground;
    sequence_.clear();
}

void InputDecoder::Emit(Event event, std::vector<Event>& events) {
    // A paste is text only: keys that its bytes might spell are not pressed.
    if (in_paste_ && !event.is_character())
        return;
    events.push_back(std::move(event));
}

void InputDecoder::Byte(unsigned char byte, std::vector<Event>& events) {
    switch (state_) {
        case State::Ground:
            Ground(byte, events);
            return;
        case State::Utf8:
            Utf8(byte, events);
            return;
        case State::Escape:
            if (byte == '[') {
                state_ = State::Csi;
                sequence_.clear();
                sequence_too_long_ = false;
            } else if (byte == 'O') {
                state_ = State::Ss3;
            } else if (byte == kEsc) {
                Emit(Event::Escape, events);  // the first of two stands alone
            } else {
                state_ = State::Ground;  // an Alt chord or a two-byte sequence
            }
            return;
        case State::Csi:
            Csi(byte, events);
            return;
        case State::Ss3:
            state_ = State::Ground;
            if (byte == 'M')
                Emit(Event::Return, events);  // Enter on the keypad
            else if (auto key = letter_key(byte))
                Emit(*key, events);
            return;
        case State::LinuxFunction:
            state_ = State::Ground;
            if (byte >= 'A' && byte <= 'E')
                Emit(function_key(byte - 'A' + 1), events);
            return;
        case State::X10Mouse:
            sequence_ += static_cast<char>(byte);
            if (sequence_.size() == 3)
                X10Mouse(events);
            return;
    }
}

void InputDecoder::Ground(unsigned char byte, std::vector<Event>& events) {
    if (byte == kEsc) {
        state_ = State::Escape;
        return;
    }
    if (byte >= 0x80) {
        if (byte >= 0xC2 && byte <= 0xDF) {
            utf8_missing_ = 1, code_point_ = byte & 0x1F, utf8_smallest_ = 0x80;
        } else if (byte >= 0xE0 && byte <= 0xEF) {
            utf8_missing_ = 2, code_point_ = byte & 0x0F, utf8_smallest_ = 0x800;
        } else if (byte >= 0xF0 && byte <= 0xF4) {
            utf8_missing_ = 3, code_point_ = byte & 0x07, utf8_smallest_ = 0x10000;
        } else {
            return;  // no lead byte: not text
        }
        state_ = State::Utf8;
        return;
    }
    switch (byte) {
        case '\t':
            Emit(Event::Tab, events);
            return;
        case '\r':
        case '\n':
            Emit(Event::Return, events);
            return;
        case 0x7F:
        case 0x08:
            Emit(Event::Backspace, events);
            return;
        default:
            if (auto character = character_of(byte))
                Emit(*character, events);
    }
}

void InputDecoder::Utf8(unsigned char byte, std::vector<Event>& events) {
    if ((byte & 0xC0) != 0x80) {
        // Cut short: the beginning is dropped and this byte starts afresh.
        state_ = State::Ground;
        Ground(byte, events);
        return;
    }
    code_point_ = (code_point_ << 6) | (byte & 0x3F);
    if (--utf8_missing_ > 0)
        return;
    state_ = State::Ground;
    if (code_point_ < utf8_smallest_)
        return;  // overlong
    if (auto character = character_of(code_point_))
        Emit(*character, events);
}

void InputDecoder::Csi(unsigned char byte, std::vector<Event>& events) {
    const bool parameter = byte >= 0x30 && byte <= 0x3F;
    const bool intermediate = byte >= 0x20 && byte <= 0x2F;
    // rxvt ends its shifted keys with "$" ("CSI 7 $"), which is otherwise an
    // intermediate byte.
    const bool rxvt_shift_final = byte == '$' && !sequence_.empty() &&
                                  sequence_.find_first_not_of("0123456789") == std::string::npos;
    if ((parameter || intermediate) && !rxvt_shift_final) {
        if (sequence_.size() < kLongestSequence)
            sequence_ += static_cast<char>(byte);
        else
            sequence_too_long_ = true;
        return;
    }
    if (byte >= 0x40 && byte <= 0x7E) {
        FinishCsi(byte, events);
        return;
    }
    if (rxvt_shift_final) {
        FinishCsi(byte, events);
        return;
    }
    // Not part of any sequence: what came before is dropped, the byte counts.
    state_ = State::Ground;
    sequence_.clear();
    Ground(byte, events);
}

void InputDecoder::FinishCsi(unsigned char final_byte, std::vector<Event>& events) {
    state_ = State::Ground;
    const std::string parameters = std::move(sequence_);
    sequence_.clear();
    if (sequence_too_long_)
        return;
    if (parameters.empty() && final_byte == 'M') {
        state_ = State::X10Mouse;  // three raw bytes follow
        return;
    }
    if (parameters.empty() && final_byte == '[') {
        state_ = State::LinuxFunction;  // the Linux console's F1 .. F5
        return;
    }
    if (!parameters.empty() && parameters[0] == '<') {
        if (final_byte != 'M' && final_byte != 'm')
            return;
        const auto numbers = numbers_of(std::string_view(parameters).substr(1));
        if (numbers.size() < 3)
            return;
        if (auto mouse = mouse_of(numbers[0], numbers[1] - 1, numbers[2] - 1, final_byte == 'M'))
            Emit(Event::FromMouse(*mouse), events);
        return;
    }
    // Other private forms ("CSI ? ...", "CSI > ...") are replies, not keys.
    if (!parameters.empty() && (parameters[0] < '0' || parameters[0] > ';'))
        return;
    if (parameters.find_first_of(" !\"#$%&'()*+,-./") != std::string::npos)
        return;  // intermediate bytes: no key of ours
    const auto numbers = numbers_of(parameters);
    switch (final_byte) {
        case '~':
        case '$':
        case '^':
        case '@':
            if (numbers[0] == 200) {
                in_paste_ = true;
                return;
            }
            if (numbers[0] == 201) {
                in_paste_ = false;
                return;
            }
            if (auto key = tilde_key(numbers[0]))
                Emit(*key, events);
            return;
        case 'Z':
            Emit(Event::TabReverse, events);
            return;
        default:
            if (auto key = letter_key(final_byte))
                Emit(*key, events);
            return;
    }
}

void InputDecoder::X10Mouse(std::vector<Event>& events) {
    state_ = State::Ground;
    const int code = static_cast<unsigned char>(sequence_[0]) - 32;
    const int x = static_cast<unsigned char>(sequence_[1]) - 33;
    const int y = static_cast<unsigned char>(sequence_[2]) - 33;
    sequence_.clear();
    if (code < 0)
        return;
    auto mouse = mouse_of(code, x, y, true);
    if (!mouse)
        return;
    if ((code & 64) == 0 && (code & 32) == 0) {
        if (mouse->button == Mouse::None) {
            mouse->button = x10_pressed_;  // button code 3 is "released"
            mouse->motion = Mouse::Released;
        } else {
            x10_pressed_ = mouse->button;
        }
    }
    Emit(Event::FromMouse(*mouse), events);
}

}  // namespace tui
