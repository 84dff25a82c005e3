#include "App.h"

#include <cerrno>
#include <cstring>

#include "ReplyText.h"
#include "audio/Format.h"
#include "string_utils.h"
#include "tui/screen/unicode.h"

namespace {

// The title over the news of a take that ended otherwise than by a stop.
const wchar_t* title_of_end(const audio::TakeEnd& end) {
    if (end.place != audio::FilePlace::at_path)
        return L"recording lost:";
    return end.full ? L"recording ended:" : L"recording failed:";
}

std::string where_it_went(audio::FilePlace place) {
    switch (place) {
        case audio::FilePlace::removed:
            return "the file was deleted while it was recorded";
        case audio::FilePlace::folder_removed:
            return "its folder was deleted while it was recorded";
        case audio::FilePlace::moved:
            return "the file was moved or replaced while it was recorded";
        case audio::FilePlace::folder_moved:
            return "its folder was moved or renamed while it was recorded";
        case audio::FilePlace::at_path:
            break;
    }
    return "it is still there";
}

// "93:12" for 93 minutes and 12 seconds of sound.
std::string minutes_and_seconds(std::uint64_t frames) {
    const std::uint64_t seconds = frames / audio::kSampleRate;
    const std::string tens = seconds % 60 < 10 ? "0" : "";
    return std::to_string(seconds / 60) + ":" + tens + std::to_string(seconds % 60);
}

}  // namespace

void App::on_record(bool record) {
    end_failed_recording();
    const bool was_recording = audio_engine->is_recording();
    record_checked = record;
    if (record != was_recording)
        record_option.on_change();
    const std::wstring path = tui::to_wstring(audio_engine->recording_path);
    if (record) {
        if (audio_engine->is_recording())
            add_words(L"started recording...", {});
        else
            add_failure(L"could not start recording:",
                        audio_engine->recording_path + ": " +
                            std::strerror(audio_engine->last_recording_error()));
    } else if (!was_recording) {
        add_words(L"nothing is being recorded", {});
    } else if (audio_engine->last_recording_error() == 0) {
        add_words(L"saved as " + path, {});
    }
    // A failed recording has been reported by the stop itself.
}

void App::toggle_recording() {
    if (audio_engine->is_recording()) {
        audio_engine->end_recording();
        record_checked = false;
        if (audio_engine->last_recording_error() != 0)
            add_failure(title_of_end(audio_engine->last_recording_end()), recording_failure());
        return;
    }
    // Takes begun within one second share the time stamp: a counter tells
    // them apart. The file is created exclusively, so no take replaces another.
    constexpr int kMostTakesPerSecond = 1000;
    const std::string stem = base_folder + "/recording_" + get_file_timestamp();
    for (int take = 1; take <= kMostTakesPerSecond; ++take) {
        // Appended piece by piece: GCC 12 takes "-" + a temporary for an
        // overlapping copy at -O3 (-Wrestrict).
        std::string path = stem;
        if (take > 1)
            path.append("-").append(std::to_string(take));
        record_checked = audio_engine->begin_recording(path.append(".wav"));
        if (record_checked || audio_engine->last_recording_error() != EEXIST)
            return;
    }
}

void App::end_failed_recording() {
    if (!audio_engine->recording_failed())
        return;
    audio_engine->end_recording();
    record_checked = false;
    // Told now, not with the next command: the take ended without one.
    show_words_now(title_of_end(audio_engine->last_recording_end()),
                   words_of(tui::to_wstring(recording_failure())));
}

std::string App::recording_failure() const {
    const audio::TakeEnd& end = audio_engine->last_recording_end();
    const std::string& path = audio_engine->recording_path;
    if (end.place != audio::FilePlace::at_path)
        return path + ": " + where_it_went(end.place);
    if (end.full)
        return path + ": a WAV file holds at most 4 GiB: the take ends there, at " +
               minutes_and_seconds(end.frames) + ", and keeps all of it";
    return path + ": " + std::strerror(end.error) + "; it keeps what was recorded before";
}
