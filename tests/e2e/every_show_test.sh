#!/usr/bin/env bash
# The built program with "Record every show on its schedule" on, driven only from outside:
# show A loaded from the command line, show B's file changed to start a few seconds ahead. Checks B is
# loaded (the caption names it) and recorded for its length, then that starting the program
# again with A's file makes the running window load A and leaves no second program running.
#   every_show_test.sh BUILD_BIN_FOLDER
set -euo pipefail
bin=$(cd "$1" && pwd)
. "$(dirname "$0")/desktop.sh"
begin_test e2e-every

app="$work/Kelvo Recorder"
mkdir -p "$app/configurations" "$work/home" "$work/config/KelvoRecorder" "$work/run"
chmod 700 "$work/run"
cp "$bin/KelvoRecorder" "$bin/libkelvo.so" "$bin/libkelvo_stream.so" "$bin/encoder.bat" "$app/"
# The user's settings, in a folder of this run only.
printf '[General]\nrecordEveryShow=true\n' >"$work/config/KelvoRecorder/KelvoRecorder.conf"

at() { date -d "@$1" '+%-I:%M:%S %p'; }
showA="$app/configurations/Morning Show.cia"
showB="$app/configurations/Evening Show.cia"
record() { # start stop weekdays
    printf '"%s","%s","Windows Wave (WAV)","44.1 kHz (CD)","64 Kb/sec","2",1200,900,"Monitor of Speakers",50,"","",%s\r\n' "$1" "$2" "$3"
}
record "1:00:00 AM" "2:00:00 AM" "0,0,0,0,0,0,0" >"$showA"
record "1:00:00 AM" "2:00:00 AM" "0,0,0,0,0,0,0" >"$showB"

# Something playing keeps the monitor's data flowing in small blocks, as on a desktop.
play_tone 60

start_display
export DISPLAY="$display" QT_QPA_PLATFORM=xcb HOME="$work/home" \
    XDG_DATA_HOME="$work/home/share" XDG_CONFIG_HOME="$work/config" XDG_RUNTIME_DIR="$work/run"

"$app/KelvoRecorder" "$showA" >"$work/program.log" 2>&1 &
program=$!

captions() { xwininfo -root -tree 2>/dev/null | grep -o '"[^"]* - KelvoRecorder[^"]*"' || true; }
waitfor() { # seconds command...
    local until=$(($(date +%s) + $1)); shift
    while [ "$(date +%s)" -lt "$until" ]; do "$@" && return 0; sleep 0.2; done
    return 1
}
names() { captions | grep -q "^\"$1 - KelvoRecorder"; }
waitfor 20 names "Morning Show" || fail "A not loaded at start: $(captions)"

# B is scheduled 5 s ahead once the program runs, however long a loaded machine took to
# start it; the running program reads the changed file on its own.
now=$(date +%s)
start=$((now + 5))
stop=$((start + 4))
record "$(at $start)" "$(at $stop)" "1,1,1,1,1,1,1" >"$showB.new"
mv "$showB.new" "$showB"

# B starts on its second: the window switches to it, and it records until its stop.
waitfor $((start - $(date +%s) + 3)) names "Evening Show" || fail "B not loaded: $(captions)"
sleep $((stop - $(date +%s) + 2))
wavs=("$app/soundfiles/"*.wav)
[ -f "${wavs[0]}" ] || fail "no recording in soundfiles"
[ ${#wavs[@]} -eq 1 ] || fail "expected one recording, found ${#wavs[@]}"
expected="Evening Show.cia-$(date -d "@$start" '+%m-%d-%y-%H-%M-%S').wav"
[ "$(basename "${wavs[0]}")" = "$expected" ] || fail "recording named $(basename "${wavs[0]}"), expected $expected"
# Its length is its scheduled 4 s, less what a loaded machine takes to save A, load B and
# open the device: the file is made within 2 s of the start, last written within 2 s of the
# stop, and holds the time between.
duration=$(soxi -D "${wavs[0]}")
made=$(stat -c %.3W "${wavs[0]}")
written=$(stat -c %.3Y "${wavs[0]}")
awk -v d="$duration" -v m="$made" -v w="$written" -v a="$start" -v z="$stop" \
    'BEGIN { exit !(d < 4.6 && m >= a && m < a + 2 && w >= z && w < z + 2 && d > w - m - 0.7) }' ||
    fail "recorded ${duration}s from $made to $written, scheduled $start to $stop"
names "Evening Show" || fail "caption lost B: $(captions)"

# A second start hands A's file over and ends at once with 0; the running window loads A.
second_rc=0
timeout 20 "$app/KelvoRecorder" "$showA" >"$work/second.log" 2>&1 || second_rc=$?
[ "$second_rc" -eq 0 ] || fail "second start ended with $second_rc: $(cat "$work/second.log")"
waitfor 5 names "Morning Show" || fail "the running window did not load A: $(captions)"
kill -0 "$program" 2>/dev/null || fail "the first program ended"
running=$(pgrep -c -f "^$app/KelvoRecorder" || true)
[ "$running" -eq 1 ] || fail "$running programs running"

kill -TERM "$program"
wait "$program" || true
program=""
[ -z "$(ls "$work/run/" | grep -v '\.lock$' || true)" ] || fail "socket left behind: $(ls "$work/run")"
echo "every show: B recorded as $(basename "${wavs[0]}") (${duration}s), hand-over loaded A, one program"
