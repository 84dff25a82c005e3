#pragma once

#include <atomic>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

#include "audio/FrameRing.h"
#include "audio/WavWriter.h"

namespace audio {

// How a take ended.
struct TakeEnd {
    // Why it ended early, as an errno value: EFBIG at the WAV size limit,
    // ENOENT when its file was lost, ENOBUFS when the ring filled; 0 when it
    // went well.
    int error = 0;
    bool full = false;  // it reached the WAV size limit and holds all it can
    FilePlace place = FilePlace::at_path;
    std::uint64_t frames = 0;  // the frames its file holds
};

// A WAV file written on a thread of its own, so that recording never touches
// the disk on the audio thread: the audio thread hands each period's frames
// over through a FrameRing made when the file is opened, and the writer
// thread, which lives only while the file is open, moves them to the
// WavWriter (whose header is brought up to date about once a second of audio).
//
// The take ends early when a write fails (a full disk, the file-size limit),
// when the ring fills because the disk has been slower than the audio for as
// long as the ring lasts, when the WAV format's size limit is reached, when
// its file is found gone from its path, or when anything is thrown on the
// writer thread. The frames that no longer fit are refused, the writer
// thread stops writing and completes the file with what reached it, and then
// calls the failure handler, once; whatever that throws is caught, and the
// take is still seen as failed by failed().
//
// Threads: open() and close() on one controlling thread (the main thread);
// push() on one producer thread at a time (the audio thread); failed() on any.
class ThreadedWavWriter {
  public:
    // Called on the writer thread when the take has failed and its file is complete.
    using FailureHandler = std::function<void()>;

    // `file` does the writing; the ring will hold `ring_frames` frames.
    ThreadedWavWriter(std::unique_ptr<WavWriter> file, std::size_t ring_frames,
                      FailureHandler on_failure);
    // Closes the file if it is still open.
    ~ThreadedWavWriter();
    ThreadedWavWriter(const ThreadedWavWriter&) = delete;
    ThreadedWavWriter& operator=(const ThreadedWavWriter&) = delete;

    // Creates `path` (never replacing a file), makes the ring and starts the
    // writer thread; false, with error() set and no file left, when any of
    // that fails.
    bool open(const std::string& path, const EncoderConfig& config);
    // The audio thread, between a successful open() and close(). Hands
    // `frame_count` frames over; false when they are refused because the take
    // has failed or the ring is full (which fails it). Takes no lock,
    // allocates nothing and makes no system call.
    bool push(const float* frames, std::uint64_t frame_count);
    // Once push() is no longer called: returns when every frame handed over
    // is in the file, the header is final and the writer thread has ended.
    // Does nothing when not open.
    void close();

    // True once the take has failed; close() then waits at most for the
    // write in progress.
    bool failed() const { return failure_.load(std::memory_order_acquire) != 0; }
    // After close(): the errno value of the failure (ENOBUFS: the ring filled),
    // or 0 when the take went well.
    int error() const;
    // After close(): how the take ended.
    TakeEnd end() const;

  private:
    // The writer thread. Nothing escapes it.
    void run() noexcept;
    void write_until_closed();
    // Writes what the ring holds, until it is empty or the take has failed.
    void write_waiting_frames();
    void fail(int error);

    std::unique_ptr<WavWriter> file_;
    std::size_t ring_frames_;
    FailureHandler on_failure_;
    std::unique_ptr<FrameRing> ring_;
    std::atomic<int> failure_{0};
    std::mutex mutex_;  // guards closing_; push() never takes it
    std::condition_variable wake_;
    bool closing_ = false;
    std::thread thread_;
};

}  // namespace audio
