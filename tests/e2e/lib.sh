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
#   e2e_check_mouse_on NAME     fail unless NAME's pane reports the mouse (any motion, SGR form)
#   e2e_click NAME COL ROW      a left click at 0-based COL, ROW, made as a user's terminal makes it
#   e2e_fail MESSAGE            print MESSAGE, the screens and any sanitizer report, then exit 1
#   e2e_until S MESSAGE CMD...  poll CMD for up to S seconds; e2e_fail MESSAGE when it never holds
#   e2e_cells NAME ARGS...      screen_cells ARGS on NAME's screen, colours and attributes kept
#
# Quarn itself, copied with the sample packs into a base folder of its own
# (saves and recordings land there), silent through SDL's dummy audio driver:
#   e2e_quarn_start NAME WIDTH HEIGHT [VAR=VALUE...]
#   e2e_quarn_shell NAME WIDTH HEIGHT   an interactive shell there, to type ./quarn into
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

# The terminal of a user who watches a session: a client of the sessions'
# server, running in a pane of a second server, where typed bytes are what
# that terminal reports.
e2e_viewer_tmux() {
    tmux -L "$E2E_SOCKET-viewer" -f /dev/null "$@"
}

e2e_cleanup() {
    e2e_viewer_tmux kill-server >/dev/null 2>&1 || true
    e2e_tmux kill-server >/dev/null 2>&1 || true
    # tmux leaves the socket file of a killed server behind.
    rm -f "${TMUX_TMPDIR:-/tmp}/tmux-$(id -u)/$E2E_SOCKET" \
        "${TMUX_TMPDIR:-/tmp}/tmux-$(id -u)/$E2E_SOCKET-viewer"
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
    state=$(e2e_tmux display -p -t "$name" \
        '#{alternate_on} #{cursor_flag} #{mouse_any_flag} #{mouse_sgr_flag}')
    [ "$state" = "0 1 0 0" ] ||
        e2e_fail "$name left the terminal changed (alternate screen, cursor, mouse, SGR: $state)"
}

# tmux passes clicks on to a pane only in the mouse mode the program set there.
e2e_mouse_mode_is() {
    [ "$(e2e_tmux display -p -t "$1" '#{mouse_any_flag} #{mouse_sgr_flag}')" = "$2" ]
}

e2e_check_mouse_on() {
    e2e_poll 5 e2e_mouse_mode_is "$1" "1 1" ||
        e2e_fail "$1's terminal does not report the mouse (any motion, SGR: $(e2e_tmux display \
            -p -t "$1" '#{mouse_any_flag} #{mouse_sgr_flag}'))"
}

e2e_viewer_attached() {
    [ "$(e2e_tmux display -p -t "$1" '#{session_attached}')" -ge 1 ]
}

# The viewer's pane is one row taller than NAME's window, for the client's
# status line, so that the window keeps its size.
e2e_start_viewer() {
    local name=$1 size width height
    size=$(e2e_tmux display -p -t "$name" '#{window_width} #{window_height}')
    read -r width height <<<"$size"
    e2e_viewer_tmux new-session -d -s "$name" -x "$width" -y $((height + 1)) \
        env TERM=tmux-256color tmux -L "$E2E_SOCKET" -f /dev/null attach -t "$name"
    e2e_until 5 "no client attached to $name" e2e_viewer_attached "$name"
    [ "$(e2e_tmux display -p -t "$name" '#{window_width} #{window_height}')" = "$size" ] ||
        e2e_fail "attaching a client resized $name"
}

e2e_click() {
    local name=$1 at="$(($2 + 1));$(($3 + 1))"
    e2e_viewer_tmux has-session -t "$name" 2>/dev/null || e2e_start_viewer "$name"
    e2e_viewer_tmux send-keys -t "$name" -l $'\e[<0;'"$at"$'M\e[<0;'"$at"'m'
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

# COMMAND with Quarn and the packs copied into NAME's base folder, in Quarn's
# environment.
e2e_quarn_run() {
    local name=$1 width=$2 height=$3 command=$4
    shift 4
    local base
    base=$(e2e_base "$name")
    mkdir -p "$base"
    cp "$QUARN_BUILD_DIR/quarn" "$base/"
    e2e_copy_packs "$base/samples"
    local log="log_path=$E2E_DIR/sanitizer"
    e2e_start "$name" "$width" "$height" "$command" SDL_AUDIODRIVER=dummy \
        "ASAN_OPTIONS=${ASAN_OPTIONS:+$ASAN_OPTIONS:}$log" \
        "UBSAN_OPTIONS=${UBSAN_OPTIONS:+$UBSAN_OPTIONS:}$log" \
        "TSAN_OPTIONS=${TSAN_OPTIONS:+$TSAN_OPTIONS:}$log" "$@"
}

e2e_quarn_start() {
    local name=$1 width=$2 height=$3
    shift 3
    e2e_quarn_run "$name" "$width" "$height" "'$(e2e_base "$name")/quarn'" "$@"
}

# An interactive shell with job control in NAME's base folder, at the prompt "$ ".
e2e_quarn_shell() {
    e2e_quarn_run "$1" "$2" "$3" "cd '$(e2e_base "$1")' && PS1='$ ' bash --norc --noprofile -i"
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
