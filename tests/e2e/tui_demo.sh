# The UI layer in a real terminal: a framed window with a check box and the
# input line, redraws posted from another thread, and the terminal given back
# on every way out, its mouse mode included.
source "$(dirname "$0")/lib.sh"

demo="$QUARN_BUILD_DIR/tui_demo"

ticks_on_screen() {
    e2e_capture "$1" | sed -n 's/.*ticks: \([0-9]*\).*/\1/p'
}

ticks_past() {
    local now
    now=$(ticks_on_screen "$1")
    [ -n "$now" ] && [ "$now" -ge "$2" ]
}

# Typing, Return, Tab to the check box, Space; then Ctrl-C.
e2e_start demo 60 12 "$demo"
e2e_wait_for demo "┌Demo──"
e2e_wait_for demo "│[ ] Loud"
e2e_wait_for demo "└──────"
e2e_check_mouse_on demo
e2e_type demo "kick 0.7 #- é中"
e2e_wait_for demo "│kick 0.7 #- é中"
e2e_keys demo Enter
e2e_wait_for demo "entered: kick 0.7 #- é中"
e2e_keys demo Tab Space
e2e_wait_for demo "│[X] Loud"
e2e_wait_for demo "toggles: 1"
# A left click on the box (column 1, row 1) and its release, as the terminal reports them.
e2e_tmux send-keys -t demo -H 1b 5b 4d 20 22 22 1b 5b 4d 23 22 22
e2e_wait_for demo "│[ ] Loud"
e2e_wait_for demo "toggles: 2"

# No key is pressed now: only the ticker thread's posted events redraw.
start=$(ticks_on_screen demo)
e2e_poll 10 ticks_past demo $((start + 3)) || e2e_fail "posted events did not redraw"

e2e_keys demo C-c
code=$(e2e_wait_exit demo)
[ "$code" = 0 ] || e2e_fail "Ctrl-C ended the demo with exit code $code"
e2e_check_restored demo

# SIGTERM and SIGHUP end the loop in order too.
for signal in TERM HUP; do
    e2e_start "sig$signal" 40 8 "$demo"
    e2e_wait_for "sig$signal" "ticks:"
    e2e_check_mouse_on "sig$signal"
    kill "-$signal" "$(e2e_program_pid "sig$signal")"
    code=$(e2e_wait_exit "sig$signal")
    [ "$code" = 0 ] || e2e_fail "SIG$signal ended the demo with exit code $code"
    e2e_check_restored "sig$signal"
done

# A fatal signal still gives the terminal back, then kills the program.
e2e_start crash 40 8 "$demo"
e2e_wait_for crash "ticks:"
e2e_check_mouse_on crash
kill -SEGV "$(e2e_program_pid crash)"
code=$(e2e_wait_exit crash)
[ "$code" = 139 ] || e2e_fail "SIGSEGV ended the demo with exit code $code, not 139"
e2e_check_restored crash

echo "tui_demo: all checks passed"
