#pragma once

#include <string>
#include <utility>
#include <variant>

#include "tui/screen/unicode.h"

namespace tui {

// A value that is either owned or borrowed from the caller through a pointer;
// a borrowed value must outlive the Ref. Same thread as its owner.
template <typename T>
class Ref {
  public:
    Ref() : value_(std::in_place_index<0>, T{}) {}
    Ref(T value)
        : value_(std::in_place_index<0>, std::move(value)) {}     // NOLINT: implicit on purpose
    Ref(T* pointer) : value_(std::in_place_index<1>, pointer) {}  // NOLINT

    T& operator*() { return get(); }
    const T& operator*() const { return get(); }
    T* operator->() { return &get(); }
    const T* operator->() const { return &get(); }
    T& operator()() { return get(); }

  private:
    T& get() { return value_.index() == 0 ? std::get<0>(value_) : *std::get<1>(value_); }
    const T& get() const {
        return value_.index() == 0 ? std::get<0>(value_) : *std::get<1>(value_);
    }

    std::variant<T, T*> value_;
};

// Editable wide text: owned, or the caller's string.
class WideStringRef : public Ref<std::wstring> {
  public:
    using Ref<std::wstring>::Ref;
    WideStringRef(const wchar_t* text) : Ref(std::wstring(text)) {}    // NOLINT
    WideStringRef(const char* utf8) : Ref(to_wstring(utf8)) {}         // NOLINT
    WideStringRef(const std::string& utf8) : Ref(to_wstring(utf8)) {}  // NOLINT
};

// Read-only UTF-8 text: owned, or the caller's string.
class ConstStringRef {
  public:
    ConstStringRef() : value_(std::in_place_index<0>) {}
    ConstStringRef(std::string text) : value_(std::move(text)) {}          // NOLINT
    ConstStringRef(const char* text) : value_(std::string(text)) {}        // NOLINT
    ConstStringRef(const std::string* text) : value_(text) {}              // NOLINT
    ConstStringRef(const std::wstring& text) : value_(to_string(text)) {}  // NOLINT

    const std::string& operator*() const { return get(); }
    const std::string* operator->() const { return &get(); }
    const std::string& operator()() const { return get(); }

  private:
    const std::string& get() const {
        return value_.index() == 0 ? std::get<0>(value_) : *std::get<1>(value_);
    }

    std::variant<std::string, const std::string*> value_;
};

}  // namespace tui
