#include "SampleIntake.h"

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cwchar>
#include <deque>
#include <optional>
#include <thread>
#include <utility>

#include "ReplyText.h"
#include "audio/SampleDecoder.h"
#include "string_utils.h"
#include "tui/screen/unicode.h"

namespace {

constexpr std::uint64_t kBytesPerFrame = audio::kChannels * sizeof(float);

// Which file a buffer was decoded from, to know it again under another name.
struct FileIdentity {
    dev_t device = 0;
    ino_t inode = 0;
    off_t size = 0;
    timespec modified{};

    bool operator==(const FileIdentity& other) const {
        return device == other.device && inode == other.inode && size == other.size &&
               modified.tv_sec == other.modified.tv_sec &&
               modified.tv_nsec == other.modified.tv_nsec;
    }
};

std::optional<FileIdentity> identity_of(const std::string& path) {
    struct stat status {};
    if (::stat(path.c_str(), &status) != 0 || !S_ISREG(status.st_mode))
        return std::nullopt;
    return FileIdentity{status.st_dev, status.st_ino, status.st_size, status.st_mtim};
}

std::wstring memory_text(std::uint64_t bytes) {
    constexpr double kGiB = 1024.0 * 1024.0 * 1024.0;
    const double size = static_cast<double>(bytes);
    wchar_t text[32];
    if (size >= kGiB)
        std::swprintf(text, 32, L"%.1f GiB", size / kGiB);
    else
        std::swprintf(text, 32, L"%.1f MiB", size / (1024.0 * 1024.0));
    return text;
}

}  // namespace

// The bytes held by the buffers decoded here and set aside for decodes. Lock-
// free, so that the audio thread, letting go of a buffer last, never waits;
// shared with the buffers, which may outlive the intake.
struct SampleIntake::MemoryCount {
    std::atomic<std::uint64_t> held{0};
    std::atomic<std::uint64_t> limit{SampleIntake::machine_memory_limit()};

    // Adds `bytes` when they fit within the limit beside what is held.
    bool try_add(std::uint64_t bytes) {
        const std::uint64_t most = limit.load();
        std::uint64_t now = held.load();
        do {
            if (now > most || bytes > most - now)
                return false;
        } while (!held.compare_exchange_weak(now, now + bytes));
        return true;
    }
    void add(std::uint64_t bytes) { held.fetch_add(bytes); }
    void remove(std::uint64_t bytes) { held.fetch_sub(bytes); }
};

// A buffer decoded here: counted until it goes, and knowing its file.
class SampleIntake::CountedBuffer : public AudioBuffer {
  public:
    CountedBuffer(audio::DecodedSound sound, std::optional<FileIdentity> source,
                  std::shared_ptr<MemoryCount> memory, std::uint64_t counted)
        : AudioBuffer(sound.samples.release(), static_cast<unsigned long>(sound.frames),
                      audio::kChannels),
          source(source),
          memory(std::move(memory)),
          counted(counted) {}
    ~CountedBuffer() override {
        // The memory goes before it stops being counted.
        delete[] sample_data;
        sample_data = nullptr;
        memory->remove(counted);
    }

    const std::optional<FileIdentity> source;  // unknown when it changed while decoded
    const std::shared_ptr<MemoryCount> memory;
    std::uint64_t counted;  // bytes; moves to a reservation that takes its place
};

// The memory one decode has set aside, given back when the decode gives
// nothing, or handed to the buffer it makes.
class SampleIntake::Reservation {
  public:
    explicit Reservation(std::shared_ptr<MemoryCount> memory) : memory(std::move(memory)) {}
    ~Reservation() { memory->remove(bytes); }
    Reservation(const Reservation&) = delete;
    Reservation& operator=(const Reservation&) = delete;

    // Sets aside `total` bytes in all, when that fits.
    bool grow_to(std::uint64_t total) {
        if (total <= bytes)
            return true;
        if (!memory->try_add(total - bytes))
            return false;
        bytes = total;
        return true;
    }

    // Sets aside `total` bytes in all, taking over the memory of `old`, whose
    // only holder is about to let go of it; false, changing nothing, when
    // even that does not fit.
    bool grow_to_replacing(std::uint64_t total, CountedBuffer& old) {
        const std::uint64_t have = bytes + old.counted;
        if (total > have && !memory->try_add(total - have))
            return false;
        bytes = std::max(total, have);
        old.counted = 0;
        shrink_to(total);
        return true;
    }

    std::shared_ptr<AudioBuffer> make_buffer(audio::DecodedSound sound,
                                             std::optional<FileIdentity> source) {
        // Counted by what it holds; the rest set aside goes back.
        const std::uint64_t holds = sound.frames * kBytesPerFrame;
        if (holds > bytes)
            memory->add(holds - bytes);
        else
            shrink_to(holds);
        bytes = holds;
        auto buffer = std::make_shared<CountedBuffer>(std::move(sound), source, memory, bytes);
        bytes = 0;
        return buffer;
    }

  private:
    void shrink_to(std::uint64_t total) {
        if (total >= bytes)
            return;
        memory->remove(bytes - total);
        bytes = total;
    }

    std::shared_ptr<MemoryCount> memory;
    std::uint64_t bytes = 0;
};

// One file on its way in.
struct SampleIntake::Plan {
    Plan(const std::string& path, const Change& change) : path(path), change(change) {}

    const std::string& path;
    const Change& change;
    std::optional<FileIdentity> before;  // the file as it was measured
    std::uint64_t bytes = 0;             // its declared length
    std::optional<Reservation> reservation;
    Taken taken;
};

SampleIntake::SampleIntake(std::mutex& samples_mutex, SampleMap& samples, FailureReport report)
    : samples_mutex(samples_mutex),
      samples(samples),
      report(std::move(report)),
      memory(std::make_shared<MemoryCount>()),
      retry_timer(std::make_unique<CallTimer>([this](const std::string& name,
                                                     const std::exception_ptr& failure) {
          if (name.empty()) {
              this->report(
                  L"could not start a thread for second tries:",
                  reason_of(failure) + "; files that did not decode were tried again all the same");
          } else {
              this->report(L"could not take in " + tui::to_wstring(name) + L":",
                           reason_of(failure));
          }
      })) {}

SampleIntake::~SampleIntake() = default;

std::uint64_t SampleIntake::machine_memory_limit() {
    // Room for a few long samples, while the program and the rest of the
    // machine keep theirs.
    constexpr std::uint64_t kMost = 2ull << 30;
    const long pages = ::sysconf(_SC_PHYS_PAGES);
    const long page_size = ::sysconf(_SC_PAGESIZE);
    if (pages <= 0 || page_size <= 0)
        return kMost;
    return std::min(kMost,
                    static_cast<std::uint64_t>(pages) * static_cast<std::uint64_t>(page_size) / 4);
}

void SampleIntake::limit_memory(std::uint64_t bytes) {
    memory->limit = bytes;
}

std::uint64_t SampleIntake::memory_limit() const {
    return memory->limit;
}

std::uint64_t SampleIntake::memory_held() const {
    return memory->held;
}

std::uint64_t SampleIntake::begin_pack() {
    std::lock_guard<std::mutex> lock(commit_mutex);
    names.clear();
    return ++current_pack;
}

bool SampleIntake::is_current(std::uint64_t pack) const {
    std::lock_guard<std::mutex> lock(commit_mutex);
    return pack == current_pack;
}

SampleIntake::Change SampleIntake::note_change(std::uint64_t pack, const std::string& name) {
    std::lock_guard<std::mutex> lock(commit_mutex);
    if (pack != current_pack)
        return Change{pack, 0, name};
    const std::uint64_t serial = ++last_serial;
    names[name].latest = serial;
    return Change{pack, serial, name};
}

bool SampleIntake::decides_locked(const Change& change) const {
    if (!change || change.pack != current_pack)
        return false;
    const auto found = names.find(change.name);
    return found != names.end() && found->second.latest == change.serial;
}

bool SampleIntake::stored_after_locked(const Change& change) const {
    const auto found = names.find(change.name);
    return found != names.end() && found->second.stored > change.serial;
}

void SampleIntake::mark_stored_locked(const Change& change) {
    auto& stored = names[change.name].stored;
    stored = std::max(stored, change.serial);
}

bool SampleIntake::decides(const Change& change) const {
    std::lock_guard<std::mutex> lock(commit_mutex);
    return decides_locked(change);
}

std::wstring SampleIntake::refusal_title(Refusal refusal) const {
    if (refusal == Refusal::too_long)
        return L"not loaded, longer than 30 minutes:";
    return L"not loaded, past the " + memory_text(memory_limit()) + L" a pack may hold:";
}

SampleIntake::Taken SampleIntake::take(const Change& change, const std::string& path) {
    if (!decides(change))
        return {};
    return std::move(take_all({path}, {change}).front());
}

std::vector<SampleIntake::Taken> SampleIntake::take_all(const std::vector<std::string>& paths,
                                                        const std::vector<Change>& changes) {
    std::deque<Plan> plans;
    std::vector<Plan*> decoding;
    for (std::size_t i = 0; i < paths.size(); ++i) {
        Plan& plan = plans.emplace_back(paths[i], changes[i]);
        if (!is_current(plan.change.pack))
            continue;
        // A file that does not open as a sound sets nothing aside: it gives nothing.
        plan.before = identity_of(plan.path);
        const auto frames = audio::declared_frames_of(plan.path);
        if (!plan.before || !frames)
            continue;
        if (*frames > audio::kMaxDecodedFrames) {
            plan.taken.refusal = Refusal::too_long;
            continue;
        }
        plan.bytes = *frames * kBytesPerFrame;
        set_aside(plan);
        if (plan.reservation)
            decoding.push_back(&plan);
    }
    decode_all(decoding);
    std::vector<Taken> taken;
    taken.reserve(plans.size());
    for (auto& plan : plans)
        taken.push_back(std::move(plan.taken));
    return taken;
}

void SampleIntake::set_aside(Plan& plan) {
    plan.reservation.emplace(memory);
    if (plan.reservation->grow_to(plan.bytes))
        return;
    // It may fit in place of the buffer its name holds, when nothing but the
    // map holds that buffer (no sound plays it, no other name shares it), so
    // that letting go of it frees its memory. Decided under the commit lock,
    // so that a change no longer deciding never lets a newer one's buffer go.
    std::shared_ptr<AudioBuffer> let_go;  // freed once the locks are released
    commit(plan.change, [&] {
        std::lock_guard<std::mutex> lock(samples_mutex);
        const auto found = samples.find(plan.change.name);
        if (found == samples.end() || found->second.use_count() != 1)
            return;
        auto* old = dynamic_cast<CountedBuffer*>(found->second.get());
        if (old == nullptr || !plan.reservation->grow_to_replacing(plan.bytes, *old))
            return;
        let_go = std::move(found->second);
        samples.erase(found);
    });
    if (!let_go) {
        plan.reservation.reset();
        plan.taken.refusal = Refusal::no_room;
    }
}

void SampleIntake::decode_one(Plan& plan) noexcept {
    try {
        Reservation& reservation = *plan.reservation;
        audio::DecodedSound sound =
            audio::decode_file(plan.path, audio::kSampleRate, audio::kMaxDecodedFrames,
                               [&reservation](std::uint64_t frames) {
                                   return reservation.grow_to(frames * kBytesPerFrame);
                               });
        if (!sound.samples) {
            if (sound.failure == audio::DecodeFailure::too_long)
                plan.taken.refusal = Refusal::too_long;
            else if (sound.failure == audio::DecodeFailure::no_room)
                plan.taken.refusal = Refusal::no_room;
            return;
        }
        // Known again under a new name only when it did not change meanwhile.
        auto after = identity_of(plan.path);
        plan.taken.buffer =
            reservation.make_buffer(std::move(sound), after == plan.before ? after : std::nullopt);
    } catch (...) {
        try {
            report(L"could not decode " + tui::to_wstring(get_extension(plan.path).name) + L":",
                   reason_of(std::current_exception()));
        } catch (...) {
            // Not even the news could be made (no memory left): the file is left out.
        }
    }
    plan.reservation.reset();
}

void SampleIntake::decode_all(const std::vector<Plan*>& work) {
    // Decoding takes the time of a switch: spread it over the cores.
    std::atomic<std::size_t> next{0};
    auto decode = [&] {
        for (std::size_t i = next++; i < work.size(); i = next++)
            decode_one(*work[i]);
    };
    const std::size_t workers =
        std::min<std::size_t>(work.size(), std::max(1u, std::thread::hardware_concurrency()));
    std::vector<std::jthread> pool;
    try {
        pool.reserve(workers);
        for (std::size_t i = 1; i < workers; ++i)
            pool.emplace_back(decode);
    } catch (const std::exception& error) {
        // Out of threads (a process limit): the files a worker would have
        // taken are left to this thread.
        report(L"could not start a decoding thread:",
               std::string(error.what()) + "; the files were decoded all the same");
    }
    decode();
}

std::shared_ptr<AudioBuffer> SampleIntake::decoded_from(const std::string& path,
                                                        const std::string& name) {
    const auto identity = identity_of(path);
    if (!identity)
        return nullptr;
    std::lock_guard<std::mutex> lock(samples_mutex);
    const auto found = samples.find(name);
    if (found == samples.end())
        return nullptr;
    const auto* counted = dynamic_cast<const CountedBuffer*>(found->second.get());
    if (counted == nullptr || counted->source != identity)
        return nullptr;
    return found->second;
}

void SampleIntake::try_again(const Change& change, std::function<void()> retry) {
    auto call = [this, change, retry = std::move(retry)] {
        if (decides(change))
            retry();
    };
    if (!retry_timer->call_at(change.name, CallTimer::Clock::now() + kRetryPause, call)) {
        std::this_thread::sleep_for(kRetryPause);
        call();
    }
}
