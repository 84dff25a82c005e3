#include "App.h"

#include <cerrno>
#include <cstring>

#include "ReplyText.h"
#include "string_utils.h"
#include "tui/screen/unicode.h"

namespace {

constexpr const wchar_t* kRecordingFailed = L"recording failed:";

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
            add_failure(kRecordingFailed, recording_failure());
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
    show_words_now(kRecordingFailed, words_of(tui::to_wstring(recording_failure())));
}

std::string App::recording_failure() const {
    return audio_engine->recording_path + ": " +
           std::strerror(audio_engine->last_recording_error()) +
           "; it keeps what was recorded before";
}
