#pragma once

#include <optional>
#include <string>

#include <picojson.h>

// Composition files on disk. Any thread; two processes may save the same
// name at once.

// Writes `text` to a new file beside `path` and renames it over `path`, so
// that a failed or interrupted save never destroys the previous file. A
// symbolic link is kept: the file it points to gets the new text. The
// temporaries that killed saves left in that folder go first, and no other
// file. False, with the reason in `error`, when the file could not be written.
bool write_composition_file(const std::string& path, const std::string& text, std::string& error);

// The whole text of a regular file. Nothing when it cannot be read or is no
// regular file (a folder, a FIFO, a device); `error` says why when it is too
// large to be a composition.
std::optional<std::string> read_composition_file(const std::string& path, std::string& error);

// Parses the whole text as one JSON value; the empty string, or why not.
std::string parse_composition(const std::string& text, picojson::value& composition);

// Nothing but white space.
bool is_blank(const std::string& text);
