# Quarn where inotify cannot be had: in a user namespace of its own whose
# inotify instance limit is 0 (so that no other program loses its
# instances), it still picks up a sample copied into the running pack, the
# sample's rename and a new pack folder, by polling the folders.
source "$(dirname "$0")/lib.sh"

if ! unshare -Ur true 2>/dev/null; then
    echo "quarn_polling: skipped, this system gives no user namespaces"
    exit 0
fi

header() {
    printf '> %-14s %s' "$1" "$2"
}

base=$(e2e_base p)
mkdir -p "$base"
cp "$QUARN_BUILD_DIR/quarn" "$base/"
e2e_copy_packs "$base/samples"
log="log_path=$E2E_DIR/sanitizer"
e2e_start p 140 44 \
    "unshare -Ur sh -c 'echo 0 > /proc/sys/user/max_inotify_instances && exec \"\$0\"' '$base/quarn'" \
    SDL_AUDIODRIVER=dummy "ASAN_OPTIONS=${ASAN_OPTIONS:+$ASAN_OPTIONS:}$log" \
    "UBSAN_OPTIONS=${UBSAN_OPTIONS:+$UBSAN_OPTIONS:}$log" \
    "TSAN_OPTIONS=${TSAN_OPTIONS:+$TSAN_OPTIONS:}$log"
e2e_wait_for p "type 'help' for help"
pid=$(e2e_program_pid p)
[ "$(readlink "/proc/$pid/exe")" = "$base/quarn" ] || e2e_fail "Quarn is not the pane's program"
if ls -l "/proc/$pid/fd" | grep -q inotify; then
    e2e_fail "Quarn was given an inotify instance"
fi

cp "$base/samples/default/kick.wav" "$base/samples/default/boom.wav"
e2e_wait_for p "│boom"
quarn_accept p "boom #"
e2e_wait_for p "$(header boom '1.00 &0')"
mv "$base/samples/default/boom.wav" "$base/samples/default/bang.wav"
e2e_wait_for p "$(header bang '1.00 &0')"
mkdir "$base/samples/newpack"
e2e_wait_for p "│  newpack"

e2e_keys p C-c
code=$(e2e_wait_exit p)
[ "$code" = 0 ] || e2e_fail "Ctrl-C ended Quarn with exit code $code"
e2e_check_sanitizer_logs
echo "quarn_polling: all checks passed"
