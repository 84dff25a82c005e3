#pragma once

#include <cstddef>
#include <optional>
#include <string>

#include <picojson.h>

// Composition files on disk. Any thread; two processes may save the same
// name at once.

// The largest composition file read. Compositions are a few kilobytes; a
// bound keeps a huge file (or one that never ends) from filling the memory.
inline constexpr std::size_t kLargestComposition = 64 * 1024 * 1024;

// The text a save writes, so that a load reads it back: pretty-printed when
// that is at most kLargestComposition bytes, else compact when that is.
// Nothing, with the reason in `error`, when neither fits.
std::optional<std::string> composition_text(const picojson::value& composition, std::string& error);

// Writes `text` to a new file beside `path` and renames it over `path`, so
// that a failed or interrupted save never destroys the previous file. A
// symbolic link is kept: the file it points to gets the new text (links in a
// loop fail, as they do for the system's own calls). The temporaries that
// killed saves left in that folder go first, and no other file. False, with
// the reason in `error`, when the file could not be written.
bool write_composition_file(const std::string& path, const std::string& text, std::string& error);

// The whole text of a regular file. Nothing when it cannot be read or is no
// regular file (a folder, a FIFO, a device); `error` says why when it is too
// large to be a composition.
std::optional<std::string> read_composition_file(const std::string& path, std::string& error);

// Parses the whole text as one JSON value; the empty string, or why not.
std::string parse_composition(const std::string& text, picojson::value& composition);

// Nothing but white space.
bool is_blank(const std::string& text);
