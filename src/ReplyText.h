#pragma once

#include <exception>
#include <string>
#include <vector>

// Wrapping of the application's replies into lines that fit the output area.
// Pure functions; any thread.

// The columns of the output area.
inline constexpr int reply_width = 48;

// Columns the text takes on screen: wide characters take two.
int columns_of(const std::wstring& text);

// The words of `text`, split at white space.
std::vector<std::wstring> words_of(const std::wstring& text);

// A word list in lines of at most `width` columns, each word followed by one
// blank ("kick snare "). A word wider than a line is cut, a long path after
// one of its slashes where it can be.
std::vector<std::wstring> wrap_words(const std::vector<std::wstring>& words,
                                     int width = reply_width);

// A line of text as it is when it fits; otherwise its words in lines of at
// most `width` columns, one blank between them.
std::vector<std::wstring> wrap_text(const std::wstring& text, int width = reply_width);

// What a failure is told by: the exception's message, or "an unknown error"
// for an exception that is no std::exception.
std::string reason_of(const std::exception_ptr& failure);
