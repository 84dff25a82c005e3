# What Quarn plays: SDL's disk driver writes the device output to a file, and
# a kick on every step at 150 bpm must sound every 19200 frames at 96000 Hz
# (96000 * 60 / 150 / 2): each hit within one 256-frame period of a step after
# the one before, and the last within one period of its place counted from
# the first, so that no drift hides in the tolerance. A take of volumes far
# past the float range holds finite samples only.
source "$(dirname "$0")/lib.sh"

probe="$QUARN_BUILD_DIR/audio_probe"
step_frames=19200
period_frames=256
wanted_hits=12

base=$(e2e_base d)
raw="$base/device.raw"
e2e_quarn_start d 120 40 SDL_AUDIODRIVER=disk "SDL_DISKAUDIOFILE=$raw"
e2e_wait_for d "type 'help' for help"
quarn_accept d "bpm 150"
quarn_accept d "kick #"

enough_hits() {
    [ "$("$probe" onsets "$raw" | wc -l)" -ge "$wanted_hits" ]
}
e2e_until 20 "fewer than $wanted_hits kicks in the device output" enough_hits
e2e_keys d C-c
code=$(e2e_wait_exit d)
[ "$code" = 0 ] || e2e_fail "Ctrl-C ended Quarn with exit code $code"
e2e_check_restored d
e2e_check_sanitizer_logs

"$probe" onsets "$raw" >"$base/onsets"
report=$(awk -v step="$step_frames" -v period="$period_frames" '
    NR > 1 {
        gap = $1 - previous
        if (gap < step - period || gap > step + period)
            printf "hit %d is %d frames after the one before\n", NR, gap
    }
    NR == 1 { first = $1 }
    { previous = $1 }
    END {
        span = previous - first
        if (span < (NR - 1) * step - period || span > (NR - 1) * step + period)
            printf "the last hit is %d frames after the first\n", span
    }' "$base/onsets")
[ -z "$report" ] || e2e_fail "the kicks are off the tempo: $report (hits at $(tr '\n' ' ' <"$base/onsets"))"

# QUARN_PERIOD_FRAMES sets a longer period for a sound server that cannot
# keep 256 frames: every hit then starts on one of its period boundaries (at
# 60 bpm, so that a kick has ended before the next). Any value but a power of
# two from 64 to 4096 is refused before the screen opens.
e2e_quarn_start bad 120 40 QUARN_PERIOD_FRAMES=300
code=$(e2e_wait_exit bad)
[ "$code" != 0 ] || e2e_fail "QUARN_PERIOD_FRAMES=300 ended Quarn with exit code 0"
e2e_wait_for bad "QUARN_PERIOD_FRAMES must be a power of two from 64 to 4096, not 300"
e2e_check_restored bad

long_period=4096
long_raw="$(e2e_base p)/device.raw"
e2e_quarn_start p 120 40 SDL_AUDIODRIVER=disk "SDL_DISKAUDIOFILE=$long_raw" \
    QUARN_PERIOD_FRAMES=$long_period
e2e_wait_for p "type 'help' for help"
quarn_accept p "bpm 60"
quarn_accept p "kick #"
long_hits() {
    [ "$("$probe" onsets "$long_raw" | wc -l)" -ge 6 ]
}
e2e_until 20 "fewer than 6 kicks with $long_period-frame periods" long_hits
e2e_keys p C-c
code=$(e2e_wait_exit p)
[ "$code" = 0 ] || e2e_fail "Ctrl-C ended Quarn with exit code $code"
report=$("$probe" onsets "$long_raw" | awk -v step=48000 -v period="$long_period" '
    $1 % period > 16 { printf "hit %d at frame %d is not on a period boundary\n", NR, $1 }
    NR > 1 && ($1 - previous < step - period || $1 - previous > step + period) {
        printf "hit %d is %d frames after the one before\n", NR, $1 - previous
    }
    { previous = $1 }')
[ -z "$report" ] || e2e_fail "kicks with $long_period-frame periods: $report"
e2e_check_sanitizer_logs

# A hit far below its pitch stretches each frame of the kick over some 44,000
# output frames: it must still end, at most 30 s (the bound of a short
# sample) after it began, so the device output falls silent within 30 s of
# the stop. Counted in frames of the output, from the frames it held when the
# stop had been taken.
bound_frames=$((30 * 96000))
deep_raw="$(e2e_base deep)/device.raw"
e2e_quarn_start deep 120 40 SDL_AUDIODRIVER=disk "SDL_DISKAUDIOFILE=$deep_raw"
e2e_wait_for deep "type 'help' for help"
quarn_accept deep "kick #-999999"
sounding() {
    local until
    until=$("$probe" sound "$deep_raw" | sed 's/.*until=//')
    [ "$until" -gt 96000 ]
}
e2e_until 20 "the deep kick does not sound" sounding
quarn_accept deep "."
stop_frame=$(($(stat -c %s "$deep_raw") / 8))
past_the_bound() {
    [ $(($(stat -c %s "$deep_raw") / 8)) -gt $((stop_frame + bound_frames + 96000)) ]
}
e2e_until 60 "the device output did not reach 31 s past the stop" past_the_bound
e2e_keys deep C-c
code=$(e2e_wait_exit deep)
[ "$code" = 0 ] || e2e_fail "Ctrl-C ended Quarn with exit code $code"
sound_until=$("$probe" sound "$deep_raw" | sed 's/.*until=//')
# A period or two may pass between the stop and the frames counted then.
[ "$sound_until" -le $((stop_frame + bound_frames + 9600)) ] ||
    e2e_fail "the deep kick sounded $(((sound_until - stop_frame) / 96)) ms after the stop"
echo "the deep kick fell silent $(((sound_until - stop_frame) / 96)) ms after the stop"
e2e_check_sanitizer_logs

# MP3s joined end to end with `cat` play whole: percy.mp3 starts with an Info
# frame that states its own length alone, and a decoder that trusts it stops
# after the first copy. Twenty copies in the pack, played once by name: the
# device output sounds from the first copy's onset to the end of the last
# (each copy is 0.3 s of sound and, once joined, 0.37 s of stream).
copies=20
joined_base=$(e2e_base joined)
mkdir -p "$joined_base/samples/default"
for _ in $(seq $copies); do
    cat "$QUARN_BUILD_DIR/samples/default/percy.mp3"
done >"$joined_base/samples/default/joined.mp3"
joined_raw="$joined_base/device.raw"
e2e_quarn_start joined 120 40 SDL_AUDIODRIVER=disk "SDL_DISKAUDIOFILE=$joined_raw"
e2e_wait_for joined "type 'help' for help"
quarn_accept joined "joined"
start_frame=$(($(stat -c %s "$joined_raw") / 8))
well_past_the_end() {
    [ $(($(stat -c %s "$joined_raw") / 8)) -gt $((start_frame + 10 * 96000)) ]
}
e2e_until 30 "the device output did not reach 10 s past the play" well_past_the_end
e2e_keys joined C-c
code=$(e2e_wait_exit joined)
[ "$code" = 0 ] || e2e_fail "Ctrl-C ended Quarn with exit code $code"
onset=$("$QUARN_BUILD_DIR/audio_probe" onsets "$joined_raw" | head -n 1)
until_frame=$("$QUARN_BUILD_DIR/audio_probe" sound "$joined_raw" | sed 's/.*until=//')
[ -n "$onset" ] || e2e_fail "the joined MP3 did not sound"
played=$((until_frame - onset))
echo "the joined MP3 played $((played / 96)) ms"
# At least nine tenths of the copies' sound; at most a tenth past their stream.
[ "$played" -ge $((copies * 28800 * 9 / 10)) ] ||
    e2e_fail "the joined MP3 played $((played / 96)) ms, not its $copies copies"
[ "$played" -le $((copies * 35108 * 11 / 10)) ] ||
    e2e_fail "the joined MP3 played $((played / 96)) ms, longer than its $copies copies"
e2e_check_sanitizer_logs

# Volumes are not clamped: three hits at 3.0e38 sum past the float range,
# yet the take holds finite samples only, the loudest as loud as a float goes.
loud="$(e2e_base loud)"
e2e_quarn_start loud 120 40
e2e_wait_for loud "type 'help' for help"
printf '{"samplePack": "default", "activeInstruments": [%s, %s, %s]}\n' \
    '{"name": "kick", "patternRaw": "#", "volume": 3.0e38}' \
    '{"name": "snare", "patternRaw": "#", "volume": 3.0e38}' \
    '{"name": "hh", "patternRaw": "#", "volume": -3.0e38}' >"$loud/loud.json"
quarn_accept loud "load loud"
e2e_wait_for loud "file loaded!"
quarn_accept loud "record start"
e2e_wait_for loud "started recording..."
take=$(ls "$loud"/recording_*.wav)
take_holds_two_seconds() {
    [ "$(stat -c %s "$take")" -ge $((44 + 2 * 96000 * 8)) ]
}
e2e_until 20 "the take does not reach two seconds" take_holds_two_seconds
quarn_accept loud "record stop"
e2e_wait_for loud "saved as"
quarn_expect_closed_recording "$take"
finite=$("$probe" finite "$take")
[ "$finite" = "nonfinite=0 loudest=3.40282e+38" ] ||
    e2e_fail "the take of volumes at 3.0e38 holds $finite"
e2e_keys loud C-c
code=$(e2e_wait_exit loud)
[ "$code" = 0 ] || e2e_fail "Ctrl-C ended Quarn with exit code $code"
e2e_check_sanitizer_logs

echo "quarn_audio: all checks passed"
