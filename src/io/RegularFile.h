#pragma once

#include <cstdint>
#include <limits>
#include <optional>
#include <string>

#include "io/UniqueFd.h"

namespace io {

inline constexpr std::uint64_t kAnySize = std::numeric_limits<std::uint64_t>::max();

// Why a file was not opened or read.
enum class Refusal {
    none,
    unreadable,  // missing, not permitted, a read failed, or no regular file (folder, FIFO, device)
    too_large,   // a regular file of more than the bytes asked for
};

// A descriptor for reading `path` when it is a regular file of at most
// `max_bytes`; otherwise none, and `refusal` (when given) says why. The type
// is tested before the open, so that no FIFO or device is ever opened, and
// again on the descriptor, since the name may have been replaced between the
// two looks; the open itself never waits. Any thread.
UniqueFd open_regular_file(const std::string& path, std::uint64_t max_bytes = kAnySize,
                           Refusal* refusal = nullptr);

// The whole content of such a file; a file that grows past `max_bytes` while
// it is read is refused as too large. Any thread.
std::optional<std::string> read_regular_file(const std::string& path, std::uint64_t max_bytes,
                                             Refusal* refusal = nullptr);

}  // namespace io
