#include "audio/ThreadedWavWriter.h"

#include <pthread.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <new>
#include <system_error>

namespace audio {

namespace {

// How often the writer thread looks for frames: the audio thread makes no
// system call to wake it, so it polls. The ring holds seconds, so this only
// bounds how long frames wait in memory.
constexpr auto kPollInterval = std::chrono::milliseconds(10);
// Frames per write: a failure (or a full ring) is noticed within one write of
// the file's buffer size.
constexpr std::size_t kFramesPerWrite = 8192;

// A write past the file-size limit then fails with EFBIG instead of ending the
// process: the signal it raises stays blocked on this thread.
void block_file_size_signal() {
    sigset_t signals;
    sigemptyset(&signals);
    sigaddset(&signals, SIGXFSZ);
    pthread_sigmask(SIG_BLOCK, &signals, nullptr);
}

// The errno value that stands for the exception being handled.
int error_of_current_exception() noexcept {
    try {
        throw;
    } catch (const std::bad_alloc&) {
        return ENOMEM;
    } catch (const std::system_error& failure) {
        const auto& category = failure.code().category();
        const int value = failure.code().value();
        const bool errno_value =
            category == std::generic_category() || category == std::system_category();
        return errno_value && value > 0 ? value : EIO;
    } catch (...) {
        return EIO;
    }
}

}  // namespace

ThreadedWavWriter::ThreadedWavWriter(std::unique_ptr<WavWriter> file, std::size_t ring_frames,
                                     FailureHandler on_failure)
    : file_(std::move(file)), ring_frames_(ring_frames), on_failure_(std::move(on_failure)) {}

ThreadedWavWriter::~ThreadedWavWriter() {
    close();
}

bool ThreadedWavWriter::open(const std::string& path, const EncoderConfig& config) {
    close();
    failure_.store(0, std::memory_order_relaxed);
    closing_ = false;
    if (!file_->open(path, config))
        return false;
    int error = 0;
    try {
        ring_ = std::make_unique<FrameRing>(ring_frames_, config.channels);
        thread_ = std::thread([this] { run(); });
        return true;
    } catch (const std::bad_alloc&) {
        error = ENOMEM;
    } catch (const std::system_error& failure) {
        error = failure.code().value();
    }
    // No thread to write it: the take never began, and leaves no file.
    file_->close();
    ::unlink(path.c_str());
    ring_.reset();
    fail(error);
    return false;
}

bool ThreadedWavWriter::push(const float* frames, std::uint64_t frame_count) {
    if (failure_.load(std::memory_order_relaxed) != 0)
        return false;
    if (ring_->push(frames, frame_count))
        return true;
    // The disk has not kept up for as long as the ring lasts.
    fail(ENOBUFS);
    return false;
}

void ThreadedWavWriter::close() {
    if (!thread_.joinable())
        return;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        closing_ = true;
    }
    wake_.notify_one();
    thread_.join();
    ring_.reset();
}

int ThreadedWavWriter::error() const {
    const int failure = failure_.load(std::memory_order_acquire);
    return failure != 0 ? failure : file_->error();
}

void ThreadedWavWriter::fail(int error) {
    int none = 0;
    failure_.compare_exchange_strong(none, error, std::memory_order_acq_rel);
}

TakeEnd ThreadedWavWriter::end() const {
    TakeEnd end;
    end.error = error();
    end.full = file_->full();
    end.place = file_->place();
    end.frames = file_->frames_written();
    return end;
}

void ThreadedWavWriter::run() noexcept {
    block_file_size_signal();
    // Whatever is thrown here would end the program: it fails the take
    // instead, whose file is completed as after any failure.
    try {
        write_until_closed();
    } catch (...) {
        fail(error_of_current_exception());
    }
    file_->close();
    if (!failed() || !on_failure_)
        return;
    try {
        on_failure_();
    } catch (...) {
        // Not told at once, then: the controlling thread finds the take
        // failed the next time it looks.
    }
}

void ThreadedWavWriter::write_until_closed() {
    bool closing = false;
    while (!closing && !failed()) {
        {
            std::unique_lock<std::mutex> lock(mutex_);
            wake_.wait_for(lock, kPollInterval, [this] { return closing_; });
            closing = closing_;
        }
        // After the last look at closing_: the producer has let go by then,
        // so this round writes the last of the frames.
        write_waiting_frames();
    }
}

void ThreadedWavWriter::write_waiting_frames() {
    const auto channels = static_cast<std::size_t>(ring_->channels());
    for (auto waiting = ring_->front(); !waiting.empty() && !failed(); waiting = ring_->front()) {
        const std::size_t frames = std::min(waiting.size() / channels, kFramesPerWrite);
        if (file_->write(waiting.data(), frames) != frames)
            fail(file_->full() ? EFBIG : file_->error() != 0 ? file_->error() : EIO);
        ring_->pop(frames);
    }
}

}  // namespace audio
