#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <unordered_map>
#include <vector>

#include "AudioEngine.h"
#include "CallTimer.h"

// ---------------------------------------------------------------------------
// Where a sample file of the active pack becomes a sample, and when it is
// refused.
//
// The application keeps the loaded samples (its map from sample name to
// buffer and the names in load order, under App::samples_mutex) and reacts to
// the pack's files; every rule about taking a file into those samples is
// decided here:
// - The latest change of a sample name decides. A file event, a pack switch
//   and a re-reading of the pack note a change of each name they act on, and
//   store what they found only while no later change of that name, and no
//   other pack, has come in. A second try belongs to the change that asked
//   for it and is dropped once a later one has come.
// - The memory bound counts what is held. A buffer decoded here is counted
//   from the moment its memory is set aside until its last holder lets go:
//   the sample map under any number of names, or a sound still playing it
//   after a replacement or a switch. A file that does not fit is refused
//   before it is decoded, or as soon as it outgrows what fits, and nothing
//   that its name held is touched.
// - A file that did not decode (one still being written, say) is tried once
//   more a moment later.
// - A file renamed or moved inside the pack keeps the buffer decoded from it.
//
// Lock order of the whole program, outermost first: a lock is taken only
// while holding locks above it in this list, never one below.
//   1. the folder watcher's dispatch lock (held while its listeners run)
//   2. UserLib's pack dispatch lock (held while a pack's file handler runs)
//   3. the intake's commit lock (held while a change is stored)
//   4. Sequencer::patterns_mutex
//   5. App::samples_mutex
//   6. AudioEngine::players_mutex
// App::output_mutex and App::wake_mutex are taken with none of these held;
// the retry timer's own lock is held only around its bookkeeping, and the
// memory count is lock-free, so a buffer freed on the audio thread never
// waits.
// ---------------------------------------------------------------------------
class SampleIntake {
  public:
    using SampleMap = std::unordered_map<std::string, std::shared_ptr<AudioBuffer>>;
    // Work that failed off the interface thread: a title and the reason.
    using FailureReport = std::function<void(const std::wstring& title, const std::string& reason)>;

    // A change of one sample name, for one pack. False when its pack was no
    // longer the active one when it came.
    struct Change {
        std::uint64_t pack = 0;
        std::uint64_t serial = 0;
        std::string name;
        explicit operator bool() const { return serial != 0; }
    };

    // Why a file that may well be a sound was not taken.
    enum class Refusal { none, too_long, no_room };

    // What a file gave: a buffer; or a refusal; or neither, when it is no
    // sound (or not yet one) or its change no longer decides.
    struct Taken {
        std::shared_ptr<AudioBuffer> buffer;
        Refusal refusal = Refusal::none;
    };

    // Before a file that did not decode is tried again.
    static constexpr std::chrono::milliseconds kRetryPause{250};

    // `samples` under `samples_mutex` are the application's loaded samples:
    // the intake reads them, and lets a buffer go from them to make room for
    // its replacement. `report` tells what failed on a worker or timer thread.
    SampleIntake(std::mutex& samples_mutex, SampleMap& samples, FailureReport report);
    // Drops the second tries still waiting and waits for one running.
    ~SampleIntake();
    SampleIntake(const SampleIntake&) = delete;
    SampleIntake& operator=(const SampleIntake&) = delete;

    // The memory the samples may hold in all: at most 2 GiB, and a quarter
    // of the memory on a machine with less than 8 GiB.
    static std::uint64_t machine_memory_limit();
    // Any thread. Applies to the memory set aside from then on.
    void limit_memory(std::uint64_t bytes);
    std::uint64_t memory_limit() const;
    // Any thread. The bytes of every buffer decoded here that is still held,
    // and those set aside for decodes under way.
    std::uint64_t memory_held() const;

    // Main thread, with no lock held. A new pack is active: every change
    // noted before decides nothing from now on. Returns the new pack.
    std::uint64_t begin_pack();
    // Any thread.
    bool is_current(std::uint64_t pack) const;

    // Any thread. A change of `name` for `pack`: from now on the earlier
    // changes of that name decide nothing.
    Change note_change(std::uint64_t pack, const std::string& name);
    // Any thread, holding no lock below the commit lock. Runs `store` under
    // the commit lock when `change` still decides its name, that is when no
    // later change of the name has come; true when it ran.
    template <class Store>
    bool commit(const Change& change, Store&& store) {
        std::lock_guard<std::mutex> lock(commit_mutex);
        if (!decides_locked(change))
            return false;
        store();
        mark_stored_locked(change);
        return true;
    }
    // For the batch of a switch or a re-reading, whose files a handler may
    // change while they decode: `store(stands)` runs under the commit lock,
    // and stands(change) is true, marking the change stored, unless a later
    // change of the name has been stored already. A later change still under
    // way stores after it, so a name is never left empty meanwhile.
    template <class Store>
    void commit_all(Store&& store) {
        std::lock_guard<std::mutex> lock(commit_mutex);
        store([this](const Change& change) {
            if (!change || change.pack != current_pack || stored_after_locked(change))
                return false;
            mark_stored_locked(change);
            return true;
        });
    }
    // Any thread.
    bool decides(const Change& change) const;

    // Decodes `path` for `change` within the memory bound. A file that fits
    // only once the buffer loaded under its name is gone, while nothing else
    // holds that buffer, has it let go first: the name stays listed, silent
    // until a new buffer is stored. Watcher's or timer thread; no lock held.
    Taken take(const Change& change, const std::string& path);
    // The same for the files of a switch or a re-reading, one change each:
    // their memory is set aside in the order of the paths, so that which are
    // refused does not hang on the threads, and they are decoded on all
    // cores. Main thread or the watcher's thread; no lock held.
    std::vector<Taken> take_all(const std::vector<std::string>& paths,
                                const std::vector<Change>& changes);
    // The buffer loaded under `name` when it was decoded from the very file
    // now at `path` (same device, inode, size and modification time), so that
    // a renamed file need not be decoded again; null otherwise. Any thread
    // but the audio thread; takes App::samples_mutex.
    std::shared_ptr<AudioBuffer> decoded_from(const std::string& path, const std::string& name);
    // The title under which refused files are named. Any thread.
    std::wstring refusal_title(Refusal refusal) const;

    // Any thread. Runs `retry` on the timer's thread after kRetryPause,
    // unless a later change of the name has come by then (one that comes
    // while it runs keeps its store out: it commits). Where the timer's
    // thread cannot start, waits on this thread instead.
    void try_again(const Change& change, std::function<void()> retry);
    // Any thread. Second tries not yet started.
    std::size_t waiting_retries() const { return retry_timer->waiting(); }

  private:
    struct MemoryCount;
    class Reservation;
    class CountedBuffer;
    struct Plan;

    bool decides_locked(const Change& change) const;
    bool stored_after_locked(const Change& change) const;
    void mark_stored_locked(const Change& change);
    // Sets the memory of `plan`'s file aside: beside everything held, or in
    // place of the buffer loaded under its name.
    void set_aside(Plan& plan);
    // Decodes the files, each with its memory set aside, on all cores.
    void decode_all(const std::vector<Plan*>& plans);
    void decode_one(Plan& plan) noexcept;

    std::mutex& samples_mutex;
    SampleMap& samples;
    const FailureReport report;
    const std::shared_ptr<MemoryCount> memory;

    mutable std::mutex commit_mutex;  // guards the three members below
    std::uint64_t current_pack = 0;
    std::uint64_t last_serial = 0;
    struct NameChanges {
        std::uint64_t latest = 0;  // the last change noted
        std::uint64_t stored = 0;  // the last change stored
    };
    std::unordered_map<std::string, NameChanges> names;  // of the current pack

    // Declared last: stops before the members its calls use go.
    std::unique_ptr<CallTimer> retry_timer;
};
