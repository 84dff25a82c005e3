#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

namespace audio {

// A fixed ring of interleaved float frames between one producer thread and
// one consumer thread. Both sides only load and store two atomic counters:
// no lock, no allocation and no system call after construction, so the
// audio thread may be the producer.
//
// Threads: made on any thread before it is shared; then push() on the
// producer thread only, front() and pop() on the consumer thread only.
class FrameRing {
  public:
    // Room for `capacity` frames (at least 1) of `channels` samples each.
    FrameRing(std::size_t capacity, int channels);
    FrameRing(const FrameRing&) = delete;
    FrameRing& operator=(const FrameRing&) = delete;

    // Producer. Copies all `frame_count` frames in, or none (false) when
    // they do not fit in the room left.
    bool push(const float* frames, std::size_t frame_count);

    // Consumer. The oldest frames the ring holds, as far as they lie in one
    // piece; the rest comes after pop(). Empty when nothing is waiting.
    std::span<const float> front() const;
    // Consumer. Frees the first `frame_count` frames of front().
    void pop(std::size_t frame_count);

    std::size_t capacity() const { return capacity_; }
    int channels() const { return channels_; }

  private:
    static_assert(std::atomic<std::uint64_t>::is_always_lock_free);

    std::vector<float> samples_;
    std::size_t capacity_;
    int channels_;
    // Frames ever pushed and ever popped; they never wrap in practice
    // (2^64 frames at 96 kHz last six million years).
    std::atomic<std::uint64_t> pushed_{0};
    std::atomic<std::uint64_t> popped_{0};
};

}  // namespace audio
