#include "audio/FrameRing.h"

#include <algorithm>
#include <cstring>

namespace audio {

FrameRing::FrameRing(std::size_t capacity, int channels)
    : samples_(std::max<std::size_t>(capacity, 1) *
               static_cast<std::size_t>(std::max(channels, 1))),
      capacity_(std::max<std::size_t>(capacity, 1)),
      channels_(std::max(channels, 1)) {}

bool FrameRing::push(const float* frames, std::size_t frame_count) {
    if (frame_count == 0)
        return true;
    const std::uint64_t pushed = pushed_.load(std::memory_order_relaxed);
    // Acquire: the consumer is done with the frames it popped before we overwrite them.
    const std::uint64_t popped = popped_.load(std::memory_order_acquire);
    if (frame_count > capacity_ - static_cast<std::size_t>(pushed - popped))
        return false;
    const auto channels = static_cast<std::size_t>(channels_);
    const std::size_t start = static_cast<std::size_t>(pushed % capacity_);
    const std::size_t first = std::min(frame_count, capacity_ - start);
    std::memcpy(samples_.data() + start * channels, frames, first * channels * sizeof(float));
    std::memcpy(samples_.data(), frames + first * channels,
                (frame_count - first) * channels * sizeof(float));
    // Release: the frames are in place before the consumer can see them.
    pushed_.store(pushed + frame_count, std::memory_order_release);
    return true;
}

std::span<const float> FrameRing::front() const {
    const std::uint64_t popped = popped_.load(std::memory_order_relaxed);
    const std::uint64_t pushed = pushed_.load(std::memory_order_acquire);
    const std::size_t start = static_cast<std::size_t>(popped % capacity_);
    const std::size_t frames =
        std::min(static_cast<std::size_t>(pushed - popped), capacity_ - start);
    const auto channels = static_cast<std::size_t>(channels_);
    return {samples_.data() + start * channels, frames * channels};
}

void FrameRing::pop(std::size_t frame_count) {
    const std::uint64_t popped = popped_.load(std::memory_order_relaxed);
    popped_.store(popped + frame_count, std::memory_order_release);
}

}  // namespace audio
