#!/usr/bin/env bash
# The world around one run of tsconv made hostile, for tests/fault_test.cpp:
#   hostile_scenes.sh SCENE SETTING TSCONV SOURCE TARGET FOLDER ZONE
# SETTING is what the scene needs (may be empty), FOLDER a scratch folder, ZONE
# a zone file. Exits as tsconv did, 77 when a tool the scene needs is missing.
scene=$1 setting=$2 tsconv=$3 source=$4 target=$5 folder=$6 zone=$7
case $scene in
# The target on a 1 MiB tmpfs, full before the run where the setting says so, then copied to TARGET.
device) mkdir -p "$folder/device" && mount -t tmpfs -o size=1m tmpfs "$folder/device" || exit 77
    [[ $setting == full ]] && cat /dev/zero >"$folder/device/filler" 2>/dev/null
    "$tsconv" "$source" dummy "$folder/device/target.csv"
    status=$?; cp "$folder/device/target.csv" "$target"; umount -l "$folder/device"; exit $status ;;
# Standard descriptors closed as the setting says (">&- 2>&-").
closed) eval "exec \"\$tsconv\" \"\$source\" dummy \"\$target\" $setting" ;;
full-target) exec "$tsconv" "$source" dummy /dev/full ;;
file-size-limit) ulimit -f "$setting"; exec "$tsconv" "$source" dummy "$target" ;;
file-size-limit-ignored) trap '' XFSZ; ulimit -f "$setting"; exec "$tsconv" "$source" dummy "$target" ;;
# Standard output and error both on one pseudo-terminal.
terminal-full-target) command -v script >/dev/null || exit 77
    exec script -qec "$(printf '%q ' "$tsconv" "$source" dummy /dev/full)" /dev/null ;;
target-fifo-reader-leaves) mkfifo "$target"; head -c 10 "$target" >/dev/null &
    exec "$tsconv" "$source" dummy "$target" ;;
target-pipe-reader-leaves)
    exec 4>&1; "$tsconv" "$source" dummy /dev/fd/3 3>&1 >&4 | head -c 10 >/dev/null; exit "${PIPESTATUS[0]}" ;;
warning-pipe-reader-leaves)
    exec 4>&1; "$tsconv" "$source" dummy "$target" 2>&1 >&4 | head -c 10 >/dev/null; exit "${PIPESTATUS[0]}" ;;
same-fifo) mkfifo "$target"; (timeout 10 bash -c 'printf "45000;1;2;3\n" >"$0"' "$target" &)
    exec timeout 10 "$tsconv" "$target" dummy "$target" ;;
same-pipe) printf '45000;1;2;3\n' | timeout 10 "$tsconv" /dev/stdin dummy /dev/stdin; exit "${PIPESTATUS[1]}" ;;
same-device) exec timeout 10 "$tsconv" /dev/null dummy /dev/null ;;
# The zone file's bytes wait in a FIFO whose writer stays (bash itself would read it, given TZ for exec).
zone-fifo) mkfifo "$folder/fifo"; { cat "$zone"; sleep 20; } >"$folder/fifo" 2>/dev/null &
    TZ="$folder/fifo" timeout 10 "$tsconv" "$source" dummy "$target" ;;
# The zone file swapped by rename again and again while 200 runs start: each
# target must be the steady file's or the changing file's. Fails on a mix.
zone-swapped-runs)
    for zone in steady changing; do TZ="$folder/$zone" "$tsconv" "$source" dummy "$folder/$zone.csv"; done
    while :; do
        for zone in steady changing; do ln -f "$folder/$zone" "$folder/next"; mv -f "$folder/next" "$folder/zone"; done
    done &
    declare -A shown=([steady]=0 [changing]=0 [mixed]=0)
    for run in {1..200}; do
        TZ="$folder/zone" "$tsconv" "$source" dummy "$folder/run.csv"
        for zone in steady changing mixed; do cmp -s "$folder/run.csv" "$folder/$zone.csv" && break; done
        ((++shown[$zone]))
    done
    kill $!
    echo "200 runs: ${shown[steady]} as the steady file, ${shown[changing]} as the changing one, ${shown[mixed]} mixed"
    ((shown[mixed] == 0)) ;;
*) echo "unknown scene $scene" >&2; exit 70 ;;
esac
