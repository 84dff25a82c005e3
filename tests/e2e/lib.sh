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
#   e2e_fail MESSAGE            print MESSAGE and the screens, then exit 1
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
    rm -rf "$E2E_DIR"
}
trap e2e_cleanup EXIT

e2e_fail() {
    echo "FAIL: $*" >&2
    local name
    for name in "${E2E_SESSIONS[@]}"; do
        echo "--- screen of $name ---" >&2
        e2e_capture "$name" >&2 || true
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
