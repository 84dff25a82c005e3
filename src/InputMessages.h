#pragma once

#include <string_view>

// The texts that commands show the user.
namespace hello::messages {

// Followed by the name; raised at the name's position.
inline constexpr std::string_view pattern_not_found = "pattern not found: ";
// Followed by the first name of a line that is neither a part nor loaded samples.
inline constexpr std::string_view unknown_part_or_sample = "Unknown part/sample: ";
// Put before each name of the "parts" listing.
inline constexpr std::string_view part_item = "  * ";
// The "parts" listing when there is none.
inline constexpr std::string_view no_parts =
    "No parts yet. Use\n=monkey\nto create a new snapshot!\n";

}  // namespace hello::messages
