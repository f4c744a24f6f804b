#!/usr/bin/env bash
# The recorder under a file size limit (prlimit --fsize), as a quota-like limit or a
# service's LimitFSIZE sets it: a scheduled WAV show reaches the limit after about a second.
# Checks the program lives on (the limit is a write error, not SIGXFSZ), the recording stops
# as "file too large" and is notified so, its file is complete up to the limit, and the
# program still ends cleanly and saves its show when asked to.
#   size_limit_test.sh BUILD_BIN_FOLDER FAKE_NOTIFICATION_SERVER
set -euo pipefail
bin=$(cd "$1" && pwd)
notifier_server=$2
. "$(dirname "$0")/desktop.sh"
begin_test size-limit

app="$work/Kelvo Recorder"
mkdir -p "$app/configurations" "$work/home"
cp "$bin/KelvoRecorder" "$bin/libkelvo.so" "$bin/libkelvo_stream.so" "$bin/encoder.bat" "$app/"
start_notifications "$notifier_server"

at() { date -d "@$1" '+%-I:%M:%S %p'; }
start=$(($(date +%s) + 6))
stop=$((start + 5))
show="$app/configurations/Tight.cia"
# 44.1 kHz stereo is 176,400 bytes a second: the limit ends it after about 1.7 s.
limit=300000
printf '"%s","%s","Windows Wave (WAV)","44.1 kHz (CD)","128 Kb/sec","2",1200,900,"Microphone",50,"","",1,1,1,1,1,1,1\r\n' \
    "$(at $start)" "$(at $stop)" >"$show"

start_display
DISPLAY="$display" QT_QPA_PLATFORM=xcb HOME="$work/home" XDG_DATA_HOME="$work/home/share" \
    prlimit --fsize=$limit "$app/KelvoRecorder" "$show" >"$work/program.log" 2>&1 &
program=$!

while [ "$(date +%s)" -lt $((stop + 2)) ]; do
    kill -0 "$program" 2>/dev/null || { wait "$program"; fail "the program died (status $?)"; }
    sleep 0.2
done
grep -q "^Recording Tight.cia stopped: file too large | soundfiles/" "$notified" ||
    fail "the stop was not notified as file too large"
wavs=("$app/soundfiles/"*.wav)
[ -f "${wavs[0]}" ] || fail "no recording in soundfiles"
size=$(stat -c %s "${wavs[0]}")
[ "$size" -le $limit ] || fail "the file is $size bytes, over the limit"
duration=$(soxi -D "${wavs[0]}") || fail "the recording is no complete WAV file"
awk -v d="$duration" -v s="$size" 'BEGIN { x = (s - 44) / 176400 - d; if (x < 0) x = -x; exit !(d > 1.0 && x < 0.01) }' ||
    fail "the header says ${duration}s for $size bytes"

kill -TERM "$program"
status=0
wait "$program" || status=$?
program=""
[ "$status" -eq 0 ] || fail "the program ended with status $status"
[ "$(tr -cd ',' <"$show" | wc -c)" -eq 18 ] || fail "the show was not saved: $(cat "$show")"
echo "size limit: stopped as file too large after ${duration}s ($size bytes), program lived on"
