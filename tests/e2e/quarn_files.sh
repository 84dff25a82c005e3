# Quarn and its files, in a real terminal: a composition saved and loaded
# again, saves beside a user's files, of the longest name and of a pack whose
# name is no UTF-8, files that are no composition refused, a song too large to
# save pretty-printed saved and loaded back, recordings started and
# stopped by command (two within a second), by the "Record" box and left open
# at Ctrl-C, a take and a save at the file-size limit, a sample file copied
# into the running pack, a pack switch with a readme that is a FIFO, a start by
# bare name from the search path, threads that cannot start, and a terminal it
# cannot use.
source "$(dirname "$0")/lib.sh"

probe="$QUARN_BUILD_DIR/audio_probe"

output_line_is() {
    [ "$(quarn_output_line f "$1")" = "$2" ]
}

expect_reply() {
    e2e_poll 5 output_line_is 9 "$1" ||
        e2e_fail "the last output line is \"$(quarn_output_line f 9)\", not \"$1\""
}

# The reply's first line, as far as the output area shows it.
reply_starts_with() {
    local line
    line=$(quarn_output_line f 9)
    [ -n "$line" ] && { [[ "$1" == "$line"* ]] || [[ "$line" == "$1"* ]]; }
}

grid_is_empty() {
    [ -z "$(e2e_cells f grid)" ]
}

header() {
    printf '> %-14s %s' "$1" "$2"
}

recordings() {
    ls "$base"/recording_*.wav 2>/dev/null || true
}

holds_at_least() {
    [ "$(size_of "$1")" -ge "$2" ]
}

recording_count_is() {
    [ "$(recordings | wc -l)" = "$1" ]
}

size_of() {
    stat -c %s "$1"
}

grows() {
    [ "$(size_of "$1")" -gt "$2" ]
}

e2e_quarn_start f 140 44
base=$(e2e_base f)
e2e_wait_for f "type 'help' for help"

# --- a composition saved, cleared, loaded again ---
quarn_accept f "kick 0.7 #-"
quarn_accept f "hh #5"
quarn_accept f "=verse"
e2e_wait_for f "│verse"
quarn_accept f "save song"
[ -s "$base/song.json" ] || e2e_fail "\"save song\" wrote no song.json in the base folder"
grep -q '"samplePack": *"default"' "$base/song.json" || e2e_fail "song.json does not name its pack"
quarn_accept f "save"
expect_reply "song"
output_line_is 8 "Files:" || e2e_fail "\"save\" did not list under \"Files: \""
quarn_accept f "/"
e2e_until 5 "\"/\" left patterns in the grid" grid_is_empty
e2e_wait_for f "│None"
quarn_accept f "load nosuch"
expect_reply "file not found :("
quarn_accept f "load song"
expect_reply "file loaded!"
e2e_wait_for f "$(header kick '0.70 &0')"
e2e_wait_for f "$(header hh '1.00 &0')"
e2e_wait_for f "│verse"

# --- a save removes only the temporaries of killed saves, takes every name
# the folder takes, and refuses a pack name the file cannot hold ---
echo '{}' >"$base/.song.json.backup"
echo '{"half' >"$base/.quarn-save-Ab12cZ"
touch -d '2 minutes ago' "$base/.song.json.backup" "$base/.quarn-save-Ab12cZ"
quarn_accept f "save song"
e2e_until 5 "a save left the stale temporary" test ! -e "$base/.quarn-save-Ab12cZ"
[ "$(cat "$base/.song.json.backup")" = '{}' ] || e2e_fail "a save removed the user's backup"

# The line is wider than the field, which shows its end only.
long=$(printf "%$(($(getconf NAME_MAX "$base") - 5))s" "" | tr ' ' L)
e2e_type f "save $long"
e2e_keys f Enter
e2e_until 5 "\"save\" of a name the folder takes wrote nothing" test -s "$base/$long.json"
e2e_until 10 "\"save $long\" was not accepted" quarn_field_is f ""
e2e_type f "load $long"
e2e_keys f Enter
expect_reply "file loaded!"

# A Latin-1 pack folder of an old archive: no key types its name, a
# composition naming it reaches it.
latin1=$(printf 'lat\xe9n')
mkdir "$base/samples/$latin1"
cp "$base/samples/default/kick.wav" "$base/samples/$latin1/gong.wav"
printf '{"samplePack": "%s", "activeInstruments": [{"name": "gong", "patternRaw": "#-", "volume": 1}]}' \
    "$latin1" >"$base/old.json"
quarn_accept f "load old"
expect_reply "file loaded!"
e2e_wait_for f "$(header gong '1.00 &0')"
quarn_accept f "save latin"
expect_reply "the pack's folder name is not UTF-8"
output_line_is 8 "could not save latin.json:" ||
    e2e_fail "the line above the reason is \"$(quarn_output_line f 8)\""
[ ! -e "$base/latin.json" ] || e2e_fail "a save of a pack name that is not UTF-8 wrote a file"
quarn_accept f "load song"
expect_reply "file loaded!"

# --- files that are no composition: answered, and nothing changes ---
awk 'BEGIN { for (i = 0; i < 100000; i++) printf "{\"a\":" }' >"$base/nested.json"
echo '{"samplePack": "drovan", "bpm": 1e400}' >"$base/huge.json"
mkfifo "$base/fifo.json"
for name in nested huge; do
    quarn_accept f "load $name"
    case $name in
    nested) reason="nested deeper than 100 levels" ;;
    huge) reason="a number out of range" ;;
    esac
    e2e_poll 5 reply_starts_with "$reason" ||
        e2e_fail "\"load $name\" answered \"$(quarn_output_line f 9)\""
    output_line_is 8 "could not load $name.json:" ||
        e2e_fail "the line above the reason is \"$(quarn_output_line f 8)\""
done
quarn_accept f "load fifo"
expect_reply "file not found :("
e2e_wait_for f "$(header hh '1.00 &0')"
e2e_wait_for f "│> default"

# --- a song of 200,000 parts: 20 MB as written here, 124 MB pretty-printed,
# more than the 64 MB a load reads: saved compact, and it loads back ---
if [ -z "${QUARN_SANITIZE:-}" ]; then
    perl -e 'print q({"samplePack": "default", "parts": {);
        for my $i (1 .. 200000) {
            printf(qq(%s"p%06d": {"instrumentCollection": {"kick": ) .
                qq({"name": "kick", "patternRaw": "#-", "volume": 1}}}), $i > 1 ? "," : "", $i);
        }
        print "}}\n"' >"$base/many.json"
    saved_compact() {
        test -s "$base/many2.json" && [ "$(head -c 100000 "$base/many2.json" | tr -dc '\n')" = "" ]
    }
    # Each of these takes seconds.
    slow_accept() {
        quarn_type f "$1"
        e2e_keys f Enter
        e2e_until 60 "\"$1\" was not accepted" quarn_field_is f ""
    }
    slow_accept "load many"
    expect_reply "file loaded!"
    e2e_wait_for f "│p000001"
    slow_accept "save many2"
    saved_compact || e2e_fail "the song of 200,000 parts was not saved compact"
    output_line_is 9 "> save many2" ||
        e2e_fail "\"save many2\" answered \"$(quarn_output_line f 9)\""
    size=$(size_of "$base/many2.json")
    [ "$size" -le $((64 * 1024 * 1024)) ] || e2e_fail "many2.json holds $size bytes, more than a load reads"
    quarn_accept f "/"
    e2e_until 5 "\"/\" left patterns in the grid" grid_is_empty
    slow_accept "load many2"
    expect_reply "file loaded!"
    e2e_wait_for f "│p000001"
    quarn_accept f "p200000" # the last part, recalled
    e2e_wait_for f "$(header kick '1.00 &0')"
    echo "quarn_files: 200,000 parts saved compact in $size bytes, and loaded back"
    quarn_accept f "load song"
    expect_reply "file loaded!"
else
    echo "quarn_files: the song of 200,000 parts skipped: too slow under the sanitizers"
fi

# --- recordings: by command, by the "Record" box, and one left open ---
quarn_accept f "record start"
expect_reply "started recording..."
e2e_wait_for f "[X] Record"
recording_count_is 1 || e2e_fail "\"record start\" made no single recording: $(recordings)"
first=$(recordings)
"$probe" wav "$first" >/dev/null || e2e_fail "an open recording has a broken header"
size=$(size_of "$first")
e2e_until 5 "the recording does not grow" grows "$first" "$size"
# A second of sound holds four steps, so the hits are surely in it.
e2e_until 10 "the recording does not reach one second" holds_at_least "$first" $((44 + 96000 * 8))
quarn_accept f "record stop"
# The path wraps within the output area after its folder.
expect_reply "$(basename "$first")"
output_line_is 8 "saved as $(dirname "$first")/" ||
    e2e_fail "the line above the file name is \"$(quarn_output_line f 8)\""
e2e_wait_for f "[ ] Record"
quarn_expect_closed_recording "$first"
size=$(size_of "$first")
sleep 0.5
[ "$(size_of "$first")" = "$size" ] || e2e_fail "a stopped recording still grows"
[ "$("$probe" onsets "$first" | wc -l)" -ge 1 ] || e2e_fail "the recording holds no hit of the kick"

quarn_accept f "."
e2e_keys f Tab Tab Space
e2e_wait_for f "[X] Record"
e2e_until 5 "ticking \"Record\" started no second recording" recording_count_is 2
second=$(recordings | grep -vxF "$first")
e2e_keys f Space
e2e_wait_for f "[ ] Record"
quarn_expect_closed_recording "$second"
e2e_keys f BTab BTab
quarn_accept f ">"
e2e_wait_for f "[X] Play"

# Two takes begun within one second (names have whole seconds): a file each.
earlier=$(recordings)
quarn_accept f "record start"
quarn_accept f "record stop"
quarn_accept f "record start"
quarn_accept f "record stop"
e2e_until 5 "two quick takes did not leave two more files: $(recordings)" recording_count_is 4
for take in $(recordings | grep -vxF "$earlier"); do
    quarn_expect_closed_recording "$take"
done

# --- the file-size limit: a take that reaches it is told at once, a save is refused ---
pid=$(e2e_program_pid f)
limit=$((2048 * 1024)) # ulimit -f 2048
no_limit=$(prlimit --pid "$pid" --fsize --output SOFT --noheadings --raw)
earlier=$(recordings)
quarn_accept f "record start"
limited=$(recordings | grep -vxF "$earlier")
prlimit --pid "$pid" --fsize="$limit:"
# 2 MB hold less than three seconds of sound.
e2e_until 10 "the take never reached the file-size limit" holds_at_least "$limited" $((limit - 8))
e2e_poll 2 e2e_screen_has f "recording failed:" ||
    e2e_fail "a take at the file-size limit was not told within about a second"
e2e_wait_for f "large; it keeps what was recorded before"
e2e_wait_for f "[ ] Record"
kill -0 "$pid" 2>/dev/null || e2e_fail "Quarn ended at the file-size limit"
quarn_expect_closed_recording "$limited"
cp "$base/song.json" "$base/song.before"
prlimit --pid "$pid" --fsize=64:
quarn_accept f "save song"
e2e_poll 5 reply_starts_with "File too large" ||
    e2e_fail "a save past the file-size limit answered \"$(quarn_output_line f 9)\""
output_line_is 8 "could not save song.json:" ||
    e2e_fail "the line above the reason is \"$(quarn_output_line f 8)\""
cmp -s "$base/song.json" "$base/song.before" || e2e_fail "a refused save changed song.json"
prlimit --pid "$pid" --fsize="$no_limit:"
quarn_accept f "record stop"
expect_reply "nothing is being recorded"

# --- a sample file copied into the running pack ---
cp "$base/samples/default/kick.wav" "$base/samples/default/boom.wav"
e2e_wait_for f "│boom"
read -r boom_row _ < <(e2e_cells f find "│boom")
read -r snare_row _ < <(e2e_cells f find "│snare")
[ "$boom_row" = $((snare_row + 1)) ] || e2e_fail "the new sample is not listed last"
quarn_accept f "boom #"
e2e_wait_for f "$(header boom '1.00 &0')"

# --- a pack switch, its readme a FIFO that no one writes ---
rm "$base/samples/drovan/readme.txt"
mkfifo "$base/samples/drovan/readme.txt"
quarn_accept f "use drovan"
expect_reply "bd cowbell rim sd shaker tom zap"
e2e_wait_for f "│> drovan"
e2e_wait_for f "│  default"
e2e_wait_for f "│bd"
e2e_until 5 "the switch left patterns in the grid" grid_is_empty

# --- Ctrl-C with a recording open completes it ---
earlier=$(recordings)
quarn_accept f "record start"
expect_reply "started recording..."
last=$(recordings | grep -vxF "$earlier")
[ -n "$last" ] || e2e_fail "the third recording was not made"
e2e_keys f C-c
code=$(e2e_wait_exit f)
[ "$code" = 0 ] || e2e_fail "Ctrl-C ended Quarn with exit code $code"
e2e_check_restored f
quarn_expect_closed_recording "$last"

# --- started by bare name from the search path: the packs and files beside it ---
e2e_start p 140 44 "cd / && PATH='$base':\$PATH quarn" SDL_AUDIODRIVER=dummy
e2e_wait_for p "type 'help' for help"
quarn_accept p "samples"
e2e_wait_for p "clap hh kick oh percy snare"
quarn_accept p "save frompath"
e2e_until 5 "\"save frompath\" wrote no frompath.json beside the program" \
    test -s "$base/frompath.json"
e2e_keys p C-c
code=$(e2e_wait_exit p)
[ "$code" = 0 ] || e2e_fail "Ctrl-C ended Quarn with exit code $code"

# --- threads that cannot start, as under a process limit: told, and Quarn goes on ---
# Only the main thread may start one. With no thread to wait on for their
# second tries, files that do not decode hold the watcher (kick.wav is seen to
# go first) while renames in a sub-folder of the pack overflow its queue: its
# catch-up decodes the pack on its own thread.
shim="$QUARN_BUILD_DIR/librefuse_threads.so"
if [ -e "$shim" ]; then
    e2e_start r 140 44 "'$base/quarn'" SDL_AUDIODRIVER=dummy "LD_PRELOAD=$shim"
    e2e_wait_for r "│kick "
    flood="$base/samples/default/sub"
    mkdir "$flood"
    echo x >"$flood/a"
    for file in kick sub/bad1 sub/bad2 sub/bad3 sub/bad4 sub/bad5 sub/bad6 sub/bad7; do
        echo "no sound" >"$base/samples/default/$file.wav"
    done
    e2e_until 10 "kick.wav, no sound any more, is still listed" \
        eval '! e2e_screen_has r "│kick "'
    perl -e 'for (1 .. 10000) { rename "$ARGV[0]/a", "$ARGV[0]/b"; rename "$ARGV[0]/b", "$ARGV[0]/a" }' \
        "$flood"
    e2e_wait_for r "could not start a thread for second tries:" 30
    e2e_wait_for r "Resource temporarily unavailable; files that"
    cp "$base/samples/drovan/bd.wav" "$base/samples/default/later.wav"
    e2e_wait_for r "│later"
    e2e_keys r C-c
    code=$(e2e_wait_exit r)
    [ "$code" = 0 ] || e2e_fail "Quarn without threads ended with exit code $code"
else
    echo "quarn_files: threads that cannot start skipped: no preload library in sanitizer builds"
fi

# --- a terminal it cannot use: told, and a failing status ---
e2e_start t 80 24 "'$base/quarn'" SDL_AUDIODRIVER=dummy TERM=nosuchterm
code=$(e2e_wait_exit t)
[ "$code" != 0 ] || e2e_fail "an unusable terminal ended Quarn with exit code 0"
e2e_wait_for t "error: cannot use this terminal"
e2e_check_sanitizer_logs

echo "quarn_files: all checks passed"
