# Helpers for end-to-end scripts that drive a program in tmux. Source this file;
# it stops its own tmux server and removes its files when the script ends.
#
#   e2e_start NAME WIDTH HEIGHT COMMAND [VAR=VALUE...]   start COMMAND in a session
#   e2e_type NAME TEXT          type TEXT literally
#   e2e_keys NAME KEY...        press keys by tmux name (Enter, Tab, C-c, Up, ...)
#   e2e_wait_for NAME TEXT [S]  wait up to S seconds (default 10) for TEXT on screen
#   e2e_capture NAME            print the screen
#   e2e_program_pid NAME        the program's process id, while it runs
#   e2e_wait_exit NAME [S]      wait for the program to end; print its exit code
#   e2e_check_restored NAME     fail unless the program gave the terminal back
#   e2e_fail MESSAGE            print MESSAGE, the screens and any sanitizer report, then exit 1
#   e2e_until S MESSAGE CMD...  poll CMD for up to S seconds; e2e_fail MESSAGE when it never holds
#   e2e_cells NAME ARGS...      screen_cells ARGS on NAME's screen, colours and attributes kept
#
# Quarn itself, copied with the sample packs into a base folder of its own
# (saves and recordings land there), silent through SDL's dummy audio driver:
#   e2e_quarn_start NAME WIDTH HEIGHT [VAR=VALUE...]
#   e2e_copy_packs DIR          copy the shipped packs into DIR
#   e2e_base NAME               NAME's base folder
#   e2e_check_sanitizer_logs    fail if a sanitizer wrote a report
#   quarn_expect_closed_recording FILE  fail unless FILE is a completed take
# Sanitizer reports go to files: the program silences standard error while
# its screen is up.
#
# Waits are scaled up under the sanitizers (QUARN_SANITIZE not empty).

set -euo pipefail

E2E_SOCKET="quarn-e2e-$$"
E2E_DIR="$(mktemp -d)"
E2E_SCALE=1
if [ -n "${QUARN_SANITIZE:-}" ]; then
    E2E_SCALE=5
fi
E2E_SESSIONS=()

e2e_tmux() {
    tmux -L "$E2E_SOCKET" -f /dev/null "$@"
}

e2e_cleanup() {
    e2e_tmux kill-server >/dev/null 2>&1 || true
    # tmux leaves the socket file of a killed server behind.
    rm -f "${TMUX_TMPDIR:-/tmp}/tmux-$(id -u)/$E2E_SOCKET"
    rm -rf "$E2E_DIR"
}
trap e2e_cleanup EXIT

e2e_fail() {
    echo "FAIL: $*" >&2
    local name report
    for name in "${E2E_SESSIONS[@]}"; do
        echo "--- screen of $name ---" >&2
        e2e_capture "$name" >&2 || true
    done
    for report in "$E2E_DIR"/sanitizer.*; do
        [ -e "$report" ] || continue
        echo "--- $(basename "$report") ---" >&2
        cat "$report" >&2
    done
    exit 1
}

e2e_start() {
    local name=$1 width=$2 height=$3 command=$4
    shift 4
    rm -f "$E2E_DIR/$name.rc"
    # The shell around the program writes its exit code and then stays, so that
    # the terminal modes the program left behind can still be read.
    e2e_tmux new-session -d -s "$name" -x "$width" -y "$height" \
        env TERM=tmux-256color "$@" bash -c \
        "$command; echo \$? > '$E2E_DIR/$name.rc'; exec sleep 100000"
    E2E_SESSIONS+=("$name")
}

e2e_type() {
    e2e_tmux send-keys -t "$1" -l "$2"
}

e2e_keys() {
    local name=$1
    shift
    e2e_tmux send-keys -t "$name" "$@"
}

e2e_capture() {
    e2e_tmux capture-pane -p -t "$1"
}

# Polls until `test_command` succeeds; false after `seconds` (scaled).
e2e_poll() {
    local seconds=$1
    shift
    local deadline=$((SECONDS + seconds * E2E_SCALE))
    until "$@"; do
        if [ "$SECONDS" -ge "$deadline" ]; then
            return 1
        fi
        sleep 0.1
    done
}

e2e_until() {
    local seconds=$1 message=$2
    shift 2
    e2e_poll "$seconds" "$@" || e2e_fail "$message"
}

e2e_screen_has() {
    e2e_capture "$1" | grep -qF -- "$2"
}

e2e_wait_for() {
    local name=$1 text=$2 seconds=${3:-10}
    e2e_poll "$seconds" e2e_screen_has "$name" "$text" || e2e_fail "no \"$text\" on $name's screen"
}

e2e_program_pid() {
    local shell_pid
    shell_pid=$(e2e_tmux display -p -t "$1" '#{pane_pid}')
    pgrep -P "$shell_pid" | head -n 1
}

e2e_wait_exit() {
    local name=$1 seconds=${2:-10}
    e2e_poll "$seconds" test -s "$E2E_DIR/$name.rc" || e2e_fail "$name did not end"
    cat "$E2E_DIR/$name.rc"
}

e2e_check_restored() {
    local name=$1 state
    state=$(e2e_tmux display -p -t "$name" '#{alternate_on} #{cursor_flag} #{mouse_any_flag}')
    [ "$state" = "0 1 0" ] ||
        e2e_fail "$name left the terminal changed (alternate screen, cursor, mouse: $state)"
}

e2e_cells() {
    local name=$1
    shift
    e2e_tmux capture-pane -p -e -t "$name" | "$QUARN_BUILD_DIR/screen_cells" "$@"
}

e2e_base() {
    echo "$E2E_DIR/$1"
}

# The packs the build generates; a user's own packs beside them stay out.
e2e_copy_packs() {
    mkdir -p "$1"
    cp -r "$QUARN_BUILD_DIR/samples/default" "$QUARN_BUILD_DIR/samples/drovan" "$1/"
}

e2e_quarn_start() {
    local name=$1 width=$2 height=$3
    shift 3
    local base
    base=$(e2e_base "$name")
    mkdir -p "$base"
    cp "$QUARN_BUILD_DIR/quarn" "$base/"
    e2e_copy_packs "$base/samples"
    local log="log_path=$E2E_DIR/sanitizer"
    e2e_start "$name" "$width" "$height" "'$base/quarn'" SDL_AUDIODRIVER=dummy \
        "ASAN_OPTIONS=${ASAN_OPTIONS:+$ASAN_OPTIONS:}$log" \
        "UBSAN_OPTIONS=${UBSAN_OPTIONS:+$UBSAN_OPTIONS:}$log" \
        "TSAN_OPTIONS=${TSAN_OPTIONS:+$TSAN_OPTIONS:}$log" "$@"
}

e2e_check_sanitizer_logs() {
    local report
    for report in "$E2E_DIR"/sanitizer.*; do
        [ -e "$report" ] && e2e_fail "a sanitizer reported a fault"
    done
    return 0
}

# A closed recording: a valid header whose sizes describe all that follows it.
quarn_expect_closed_recording() {
    local sizes riff data body
    sizes=$("$QUARN_BUILD_DIR/audio_probe" wav "$1") || e2e_fail "$1 has a broken header"
    read -r riff data body <<<"$(sed 's/[a-z]*=//g' <<<"$sizes")"
    [ "$data" = "$body" ] && [ "$riff" = $((data + 36)) ] ||
        e2e_fail "$1: header sizes ($sizes) do not describe the data"
    [ "$data" -gt 0 ] && [ $((data % 8)) = 0 ] || e2e_fail "$1 holds no whole frames ($sizes)"
}

# --- Quarn's middle column, found by its "Command:" line ---

# screen_cells ARGS for the row OFFSET rows below "Command:" (negative: above),
# over the 48 columns of the output area and the command box. The output
# area's lines 0 to 9 lie 11 to 2 rows above; the field 1 and the status line
# 2 rows below.
quarn_cells() {
    local name=$1 offset=$2 command=$3 length=${4:-48} screen row col
    screen=$(e2e_tmux capture-pane -p -e -t "$name")
    read -r row col < <(printf '%s\n' "$screen" | "$QUARN_BUILD_DIR/screen_cells" find "Command:") ||
        return 1
    printf '%s\n' "$screen" |
        "$QUARN_BUILD_DIR/screen_cells" "$command" $((row + offset)) "$col" "$length"
}

quarn_output_line() {
    quarn_cells "$1" $(($2 - 11)) text
}

quarn_field() {
    quarn_cells "$1" 1 text
}

quarn_status() {
    quarn_cells "$1" 2 text
}

quarn_field_is() {
    [ "$(quarn_field "$1")" = "$2" ]
}

# Types TEXT into the empty command field and waits until it shows.
quarn_type() {
    e2e_type "$1" "$2"
    e2e_until 10 "the command field did not show \"$2\"" quarn_field_is "$1" "$2"
}

# Types a command, presses Enter and waits until the field is cleared, which
# happens only for an accepted command.
quarn_accept() {
    quarn_type "$1" "$2"
    e2e_keys "$1" Enter
    e2e_until 10 "\"$2\" was not accepted" quarn_field_is "$1" ""
}
