# Quarn's screen in a real terminal: the opening lines, commands with their
# echoes and replies, errors under the field, the pattern grid with its lit
# step, mute, the detailed view, the focus ring of Tab and Shift-Tab, the
# command history, the terminal's mouse mode and a real click, Ctrl-C, Ctrl-\
# and SIGUSR1 (during a take) giving the terminal back, Ctrl-Z and fg,
# terminals it cannot draw on refused, xterm's key sequences handled as keys,
# a line longer than the field, and an 80x24 terminal with more instruments
# than rows.
source "$(dirname "$0")/lib.sh"

cells="$QUARN_BUILD_DIR/screen_cells"

# The 10 lines of the output area, one per line.
output_lines() {
    local i
    for i in $(seq 0 9); do
        quarn_output_line q "$i"
    done
}

output_line_is() {
    [ "$(quarn_output_line q "$1")" = "$2" ]
}

# Style of the first LENGTH cells of output line INDEX.
output_style() {
    quarn_cells q $(($1 - 11)) style "$2"
}

has_attribute() {
    [[ " $1 " == *" $2 "* ]]
}

# A grid row's header: name padded to WIDTH, then volume and shuffle interval.
header() {
    printf '%s %-*s %s' "$1" "$2" "$3" "$4"
}

# The cells under the grid row header HEADER, as wide as it, trailing blanks cut
# (on the screen of session $SESSION, q by default).
cells_under() {
    local screen row col
    screen=$(e2e_tmux capture-pane -p -e -t "${SESSION:-q}")
    read -r row col < <(printf '%s\n' "$screen" | "$cells" find "$1") || return 1
    printf '%s\n' "$screen" | "$cells" text $((row + 1)) "$col" "${#1}"
}

cells_under_are() {
    [ "$(cells_under "$1")" = "$2" ]
}

# "ROW LIT WIDTH" per pattern cell row, top to bottom.
grid() {
    e2e_cells q grid
}

# The lit index of every cell row, one per line.
lit_steps() {
    grid | awk '{print $2}'
}

# Which of the focus ring's controls is drawn as focused.
focused() {
    local screen found="" label row col style
    screen=$(e2e_tmux capture-pane -p -e -t q)
    for label in "] Play" "] Record" "] Basic" "BPM    [" "Volume ["; do
        read -r row col < <(printf '%s\n' "$screen" | "$cells" find "$label") || continue
        style=$(printf '%s\n' "$screen" | "$cells" style "$row" "$col" "${#label}")
        if has_attribute "$style" reverse; then
            found="$found${found:+ }$(tr -d '[] ' <<<"$label")"
        fi
    done
    read -r row col < <(printf '%s\n' "$screen" | "$cells" find "Command:")
    style=$(printf '%s\n' "$screen" | "$cells" style $((row + 1)) "$col" 1)
    if has_attribute "$style" reverse; then
        found="$found${found:+ }field"
    fi
    echo "$found"
}

focus_is() {
    [ "$(focused)" = "$1" ]
}

expect_focus() {
    e2e_poll 5 focus_is "$1" || e2e_fail "the focus is on \"$(focused)\", not on $1"
}

e2e_quarn_start q 140 44

# --- the opening screen ---
e2e_wait_for q "type 'help' for help"
e2e_wait_for q "│> default"
e2e_wait_for q "│snare"
e2e_wait_for q "│None"
e2e_wait_for q "[X] Play"
e2e_wait_for q "[ ] Record"
e2e_wait_for q "[X] Basic"
expected=$(printf '\n\n\n\n\n\n\n\n%s\n%s' "type 'tutorial' for tutorial" "type 'help' for help")
[ "$(output_lines)" = "$expected" ] || e2e_fail "the opening output lines are not 8 empty lines and the two hints"
for i in 8 9; do
    line=$(quarn_output_line q "$i")
    style=$(output_style "$i" "${#line}")
    has_attribute "$style" bold || e2e_fail "opening line $i is \"$style\", not bold"
done
expect_focus field

# --- commands, their echoes and replies ---
quarn_accept q "kick #"
quarn_accept q "hh 0.5 -#"
quarn_accept q "bpm"
e2e_until 5 "\"bpm\" did not answer 120 after its echo" output_line_is 9 "120"
output_line_is 8 "> bpm" || e2e_fail "no echo \"> bpm\" above the reply"
has_attribute "$(output_style 8 5)" bold && e2e_fail "the echo is bold"
has_attribute "$(output_style 9 3)" bold || e2e_fail "the reply is not bold"
quarn_accept q "samples"
e2e_until 5 "\"samples\" did not list the pack's samples" \
    output_line_is 9 "clap hh kick oh percy snare"
quarn_accept q "help record"
e2e_until 5 "the help lines do not follow the echo" output_line_is 5 "> help record"
for i in 6 7 8 9; do
    line=$(quarn_output_line q "$i")
    style=$(output_style "$i" "${#line}")
    [[ "$style" == "fg=14 "* ]] || e2e_fail "help line $i (\"$line\") is \"$style\", not light cyan"
done
output_line_is 9 " -> stop recording" || e2e_fail "the last help line is \"$(quarn_output_line q 9)\""

# --- the grid: a row pair per instrument, one lit step moving down the rows ---
e2e_wait_for q "$(header '>' 14 kick '1.00 &0')"
e2e_wait_for q "$(header '>' 14 hh '0.50 &0')"
cells_under_are "$(header '>' 14 hh '0.50 &0')" " -  #  -  #  -  #  -  #" ||
    e2e_fail "the hh cells read \"$(cells_under "$(header '>' 14 hh '0.50 &0')")\""
# True once ROWS enabled rows have shown 4 different lit steps, every
# capture with one lit step shared by all rows; collects them in $seen.
lit_moves_in_rows() {
    local lit
    lit=$(lit_steps | sort -u)
    [ "$(grid | wc -l)" = "$1" ] && [ "$(wc -l <<<"$lit")" = 1 ] && [[ "$lit" =~ ^[0-7]$ ]] ||
        return 1
    [[ " $seen " == *" $lit "* ]] || seen="$seen $lit"
    [ "$(wc -w <<<"$seen")" -ge 4 ]
}
seen=""
e2e_until 10 "the lit step did not move through 4 steps, shared by both rows" \
    lit_moves_in_rows 2

# A muted row: ". " header and no lit cell, while the other row keeps its own.
quarn_accept q ". kick"
e2e_wait_for q "$(header '.' 14 kick '1.00 &0')"
muted_unlit() {
    local lit
    lit=$(lit_steps | tr '\n' ' ')
    [[ "$lit" =~ ^-1\ [0-7]\ $ ]]
}
e2e_poll 5 muted_unlit ||
    e2e_fail "the muted row is lit, or the other is not: $(lit_steps | tr '\n' ' ')"
quarn_accept q "> kick"
e2e_wait_for q "$(header '>' 14 kick '1.00 &0')"

# --- failed commands keep their line; only a real error shows, in red ---
before=$(output_lines)
quarn_type q "kick @"
e2e_keys q Enter
# Keys are handled in order: once the "!" shows, so has the Enter.
e2e_type q "!"
e2e_until 5 "a line that matches no command left the field" quarn_field_is q "kick @!"
[ -z "$(quarn_status q)" ] || e2e_fail "a line that matches no command shows \"$(quarn_status q)\""
e2e_keys q BSpace BSpace BSpace BSpace BSpace BSpace BSpace
quarn_type q "nosuch 0.5 #"
e2e_keys q Enter
status_is() {
    [ "$(quarn_status q)" = "$1" ]
}
e2e_until 5 "no error under the field" status_is "pattern not found: nosuch"
style=$(quarn_cells q 2 style 25)
[[ "$style" == "fg=1 "* ]] || e2e_fail "the error is \"$style\", not red"
quarn_field_is q "nosuch 0.5 #" || e2e_fail "the failed line left the field"
[ "$(output_lines)" = "$before" ] || e2e_fail "failed commands changed the output area"

# --- history: ArrowUp and ArrowDown; failed lines are not in it ---
e2e_keys q Up
e2e_until 5 "ArrowUp did not recall \"> kick\" over the failed line" quarn_field_is q "> kick"
e2e_keys q Up
e2e_until 5 "the second ArrowUp did not recall \". kick\"" quarn_field_is q ". kick"
e2e_keys q Down
e2e_until 5 "ArrowDown did not go back to \"> kick\"" quarn_field_is q "> kick"
e2e_keys q Down
e2e_until 5 "ArrowDown past the newest did not empty the field" quarn_field_is q ""
e2e_keys q Down
e2e_until 5 "ArrowDown from the empty slot did not wrap to the oldest" quarn_field_is q "kick #"
# The cursor stands after the recalled line: typing appends.
e2e_type q "-"
e2e_until 5 "typing after a recall did not append" quarn_field_is q "kick #-"
e2e_keys q Enter
e2e_until 5 "the edited recall was not accepted" quarn_field_is q ""
[ -z "$(quarn_status q)" ] || e2e_fail "an accepted command left the error standing"
e2e_until 5 "the edited recall did not set the kick's steps" \
    cells_under_are "$(header '>' 14 kick '1.00 &0')" " #  -  #  -  #  -  #  -"
e2e_keys q Up
e2e_until 5 "ArrowUp did not recall the edited line" quarn_field_is q "kick #-"
e2e_keys q Down

# --- stopped: the lit step stands and the focus stays where Tab puts it ---
quarn_accept q "."
e2e_wait_for q "[ ] Play"
first=$(lit_steps)
sleep 1
[ "$(lit_steps)" = "$first" ] || e2e_fail "the lit step moved while stopped"

for control in Play Record Basic BPM Volume field; do
    e2e_keys q Tab
    expect_focus "$control"
done
for control in Volume BPM Basic Record Play field; do
    e2e_keys q BTab
    expect_focus "$control"
done

# Basic off: pitches in 5-column cells and a 30-column name column; on again.
quarn_accept q "percy #5 - #-3 -"
e2e_keys q Tab Tab Tab
expect_focus Basic
e2e_keys q Space
e2e_wait_for q "[ ] Basic"
e2e_wait_for q "$(header '>' 30 percy '1.00 &0')"
detailed=" #5   -    #-3  -    #5   -    #-3  -"
e2e_poll 5 cells_under_are "$(header '>' 30 percy '1.00 &0')" "$detailed" ||
    e2e_fail "the detailed view shows \"$(cells_under "$(header '>' 30 percy '1.00 &0')")\""
[ "$(grid | awk '{print $3}' | sort -u)" = 5 ] || e2e_fail "detailed cells are not 5 columns wide"
e2e_keys q Space
e2e_wait_for q "[X] Basic"
e2e_wait_for q "$(header '>' 14 percy '1.00 &0')"
cells_under_are "$(header '>' 14 percy '1.00 &0')" " #  -  #  -  #  -  #  -" ||
    e2e_fail "the basic view did not come back"
[ "$(grid | awk '{print $3}' | sort -u)" = 3 ] || e2e_fail "basic cells are not 3 columns wide"
# "Play" ticked again: the clock runs, and at its next step it takes the
# focus back to the field.
e2e_keys q BTab BTab
expect_focus Play
e2e_keys q Space
e2e_wait_for q "[X] Play"
e2e_until 5 "the step clock did not give the field the focus back" focus_is field
seen=""
e2e_until 10 "the lit step did not move again after \"Play\"" lit_moves_in_rows 3

# --- the mouse: while the program runs its terminal reports it, and a click
# that a user's terminal makes (tmux passes it on only in that mode) ticks
# "Play" off ---
e2e_check_mouse_on q
read -r row col < <(e2e_capture q | "$cells" find "] Play")
e2e_click q "$col" "$row"
e2e_wait_for q "[ ] Play"

# --- Ctrl-C ends the program in order ---
e2e_keys q C-c
code=$(e2e_wait_exit q)
[ "$code" = 0 ] || e2e_fail "Ctrl-C ended Quarn with exit code $code"
e2e_check_restored q
e2e_wait_for q "hi!"
# Clicks no longer reach the terminal: none is echoed before the text typed after it.
e2e_click q "$col" "$row"
e2e_viewer_tmux send-keys -t q -l "typed after the click"
e2e_wait_for q "typed after the click"
e2e_screen_has q "[<" && e2e_fail "a click after the end was typed into the terminal"

# --- Ctrl-Z gives the shell its terminal back without the mouse; fg takes both again ---
alternate_screen_is() {
    [ "$(e2e_tmux display -p -t z '#{alternate_on}')" = "$1" ]
}
e2e_quarn_shell z 140 44
e2e_wait_for z "$"  # the prompt (capture-pane drops its trailing blank)
e2e_type z "./quarn"
e2e_keys z Enter
e2e_wait_for z "type 'help' for help"
e2e_check_mouse_on z
e2e_keys z C-z
e2e_wait_for z "Stopped"
e2e_until 5 "Ctrl-Z left the alternate screen standing" alternate_screen_is 0
e2e_mouse_mode_is z "0 0" || e2e_fail "Ctrl-Z left the mouse on in the shell"
e2e_type z "fg"
e2e_keys z Enter
e2e_until 5 "fg did not take the alternate screen again" alternate_screen_is 1
e2e_wait_for z "type 'help' for help"
e2e_check_mouse_on z
quarn_accept z "kick #"
e2e_keys z C-c
e2e_until 10 "Ctrl-C after fg did not end Quarn" alternate_screen_is 0
e2e_type z 'echo "ended with $?"'
e2e_keys z Enter
e2e_wait_for z "ended with 0"
e2e_check_restored z

# --- kill -USR1 during a take ends the program in order, as SIGTERM does: the
# take is completed, its header exact (not the one refreshed a second ago) ---
e2e_quarn_start u 140 44
e2e_wait_for u "type 'help' for help"
quarn_accept u "kick #"
quarn_accept u "record start"
take=$(e2e_base u)/recording_
has_take_longer_than_a_second() {
    local file
    file=$(ls "$take"*.wav 2>/dev/null | head -n 1)
    [ -n "$file" ] && [ "$(stat -c %s "$file")" -gt $((96000 * 8 * 3 / 2)) ]
}
e2e_until 10 "the take did not grow past 1.5 s" has_take_longer_than_a_second
kill -USR1 "$(e2e_program_pid u)"
code=$(e2e_wait_exit u)
[ "$code" = 0 ] || e2e_fail "SIGUSR1 ended Quarn with exit code $code"
e2e_check_restored u
quarn_expect_closed_recording "$(ls "$take"*.wav)"

# --- a terminal it cannot draw on is refused at start: told on standard
# error, with a failing status, and nothing drawn ---
e2e_quarn_start dumb 80 24 TERM=dumb
code=$(e2e_wait_exit dumb)
[ "$code" = 1 ] || e2e_fail "TERM=dumb ended Quarn with exit code $code, not 1"
e2e_wait_for dumb "error: cannot use this terminal: TERM=dumb cannot move the cursor"
refused=$(e2e_base dumb)
e2e_start file 80 24 "'$refused/quarn' >'$refused/out' 2>'$refused/err'" SDL_AUDIODRIVER=dummy
code=$(e2e_wait_exit file)
[ "$code" = 1 ] || e2e_fail "output to a file ended Quarn with exit code $code, not 1"
[ "$(cat "$refused/err")" = "error: cannot use this terminal: standard output is not a terminal" ] ||
    e2e_fail "output to a file was refused with \"$(cat "$refused/err")\""
[ "$(cat "$refused/out")" = "hi!" ] || e2e_fail "the file holds more than \"hi!\": $(head -c 200 "$refused/out")"
# Output to a pipe whose reader has gone: the greeting's write fails, and the
# program is refused as above rather than killed by SIGPIPE.
code=0
SDL_AUDIODRIVER=dummy perl -e 'pipe(my $r, my $w) or die; close $r; open(STDOUT, ">&", $w) or die;
    exec @ARGV or die' "$refused/quarn" 2>"$refused/err" || code=$?
[ "$code" = 1 ] || e2e_fail "output to a closed pipe ended Quarn with exit code $code, not 1"
[ "$(cat "$refused/err")" = "error: cannot use this terminal: standard output is not a terminal" ] ||
    e2e_fail "output to a closed pipe was refused with \"$(cat "$refused/err")\""

# --- xterm's key sequences are keys, never text; Ctrl-\ ends it in order too ---
e2e_quarn_start x 140 44 TERM=xterm-256color
e2e_wait_for x "type 'help' for help"
quarn_type x "kick"
e2e_type x $'\e[7~\e[8~\eOH\eOF\e[H\e[F\e[200~\e[201~\e[2~\e[15~\e[?1;2c\e[1;5D'
e2e_type x "!"
e2e_until 5 "escape sequences reached the field as text" \
    quarn_field_is x "kic!k"
e2e_keys x 'C-\'
code=$(e2e_wait_exit x)
[ "$code" = 0 ] || e2e_fail "Ctrl-\\ ended Quarn with exit code $code"
e2e_check_restored x
modes=$(stty -a -F "$(e2e_tmux display -p -t x '#{pane_tty}')")
[[ "$modes" == *" icanon "* && "$modes" == *" echo "* ]] ||
    e2e_fail "Ctrl-\\ left the terminal without canonical mode or echo: $modes"

# --- a line longer than the field shows where it is typed (160 columns) ---
e2e_quarn_start l 160 44
# --- and on an 80x24 terminal, seven instruments leave the replies, the field
# and the status line standing (32 columns of the middle column) ---
e2e_quarn_start s 80 24
e2e_wait_for l "type 'help' for help"
long='kick #-#- is typed blind no more: the field keeps its cursor in view!!'
[ "${#long}" = 70 ] || e2e_fail "the long line is ${#long} characters, not 70"
e2e_type l "$long"
e2e_until 10 "the field does not show the end of a 70-character line" \
    quarn_field_is l "${long:23}"
# The cursor cell after the text, underlined every other redraw.
cursor_underlined_at() {
    local screen row col
    screen=$(e2e_tmux capture-pane -p -e -t l)
    read -r row col < <(printf '%s\n' "$screen" | "$cells" find "Command:") || return 1
    has_attribute "$(printf '%s\n' "$screen" | "$cells" style $((row + 1)) $((col + $1)) 1)" \
        underline
}
e2e_until 5 "no underlined cursor cell after the end of the line" cursor_underlined_at 47
e2e_keys l Home
e2e_until 5 "Home did not show the start of the line" quarn_field_is l "${long:0:48}"
e2e_until 5 "no underlined cursor cell at the start of the line" cursor_underlined_at 0
# A press in the scrolled view lands on the character under the pointer: the
# view of the end shows character 23 + i in column i.
e2e_keys l End
e2e_until 5 "End did not show the end of the line again" quarn_field_is l "${long:23}"
read -r row col < <(e2e_capture l | "$cells" find "Command:")
at="$((col + 10 + 1));$((row + 1 + 1))"  # the field's column 10, counted from 1
e2e_type l $'\e[<0;'"$at"$'M\e[<0;'"$at"'m'
e2e_type l "^"
e2e_keys l Home
edited="${long:0:33}^${long:33}"
e2e_until 5 "the press did not put the cursor on the character under it" \
    quarn_field_is l "${edited:0:48}"

narrow_field_is() {
    [ "$(quarn_cells s 1 text 32)" = "$1" ]
}
narrow_accept() {
    e2e_type s "$1"
    e2e_until 10 "the narrow field did not show \"$1\"" narrow_field_is "$1"
    e2e_keys s Enter
    e2e_until 10 "\"$1\" was not accepted at 80x24" narrow_field_is ""
}
e2e_wait_for s "type 'help' for help"
narrow_accept "use drovan"
for name in bd cowbell rim sd shaker tom zap; do
    narrow_accept "$name #"
done
narrow_accept "bpm 133"
narrow_accept "bpm"
e2e_type s "nosuch #"
e2e_keys s Enter
narrow_status_is() {
    [ "$(quarn_cells s 2 text 32)" = "$1" ]
}
e2e_until 5 "no error under the field at 80x24" narrow_status_is "pattern not found: nosuch"
narrow_field_is "nosuch #" || e2e_fail "the field at 80x24 does not show the failed line"
narrow_replies() {
    local i
    for i in 7 8 9; do
        quarn_cells s $((i - 11)) text 32
    done
}
expected=$(printf '%s\n%s\n%s' "> bpm 133" "> bpm" "133")
[ "$(narrow_replies)" = "$expected" ] ||
    e2e_fail "the newest output lines at 80x24 are not the echoes and the answer: $(narrow_replies)"

# --- a big song: 100,000 instruments in 200,000 parts load and play, the
# grid and the part list drawn as far as they show and the program
# answering at once; one instrument more is refused with its reason,
# changing nothing ---
e2e_quarn_start big 160 50
big_base=$(e2e_base big)
# SONG NAME INSTRUMENTS PARTS: a composition of instruments "i0", "i1", ...
# (no sample of those names: they stay silent) and empty parts "p0", ...
write_song() {
    perl -e 'my ($n, $p) = @ARGV;
        print q({"samplePack": "default", "activeInstruments": [),
            join(",", map { qq({"name": "i$_", "patternRaw": "#-", "volume": 1}) } 0 .. $n - 1),
            q(], "parts": {), join(",", map { qq("p$_": {"instrumentCollection": []}) } 0 .. $p - 1),
            "}}\n"' "$2" "$3" >"$big_base/$1.json"
}
write_song big 100000 200000
write_song toobig 100001 0
e2e_wait_for big "type 'help' for help"
big_accept() {
    e2e_type big "$1"
    e2e_until 10 "the field did not show \"$1\"" quarn_field_is big "$1"
    e2e_keys big Enter
    e2e_until 30 "\"$1\" was not accepted" quarn_field_is big ""
}
big_accept "kick #-"
big_accept "load toobig"
e2e_wait_for big "could not load toobig.json:"
e2e_wait_for big "more than 100000 instruments"
e2e_screen_has big "$(header '>' 14 kick '1.00 &0')" || e2e_fail "a refused song changed the grid"
big_accept "load big"
e2e_wait_for big "file loaded!" 60
e2e_wait_for big "$(header '>' 14 i0 '1.00 &0')"
SESSION=big e2e_until 5 "the second instrument's cells are not drawn" \
    cells_under_are "$(header '>' 14 i1 '1.00 &0')" ' #  -  #  -  #  -  #  -'
e2e_screen_has big "│p0 " || e2e_fail "the part list does not begin with p0"
# Playing, it answers a command as a small song does, and its grid keeps one
# lit step in every row.
big_accept "bpm"
big_answer_is() {
    [ "$(quarn_output_line big 9)" = "$1" ]
}
e2e_until 10 "no answer to bpm with the big song loaded" big_answer_is "120"
big_pid=$(e2e_program_pid big)
cpu_ticks() {
    awk '{print $14 + $15}' "/proc/$big_pid/stat"
}
before=$(cpu_ticks)
sleep 3
used=$(($(cpu_ticks) - before))
peak=$(awk '/VmHWM/ {print $2}' "/proc/$big_pid/status")
echo "quarn_screen: 100,000 instruments in 200,000 parts playing: CPU $((used * 100 / ($(getconf CLK_TCK) * 3)))% of a core over 3 s, peak memory $((peak / 1024)) MB"
if [ -z "${QUARN_SANITIZE:-}" ] && [ "$peak" -gt $((1024 * 1024)) ]; then
    e2e_fail "the big song took $((peak / 1024)) MB, more than 1 GB"
fi
e2e_check_sanitizer_logs

echo "quarn_screen: all checks passed"
