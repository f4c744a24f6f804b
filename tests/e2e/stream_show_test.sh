#!/usr/bin/env bash
# A webcast show set to record its stream itself, driven from outside as a user would, against
# a private Icecast (scripts/stream-server) on a machine with no browser: the scheduled show
# records the stream's signal at its level from the file's first second, keeps the broadcast
# beside the WAV, opens nothing and leaves the sound source alone. A second show, whose
# address answers 404, is told as not started. Prints the delay from the scheduled start to
# the first stream audio in the file.
#   stream_show_test.sh BUILD_BIN_FOLDER FAKE_NOTIFICATION_SERVER
set -euo pipefail
bin=$(cd "$1" && pwd)
notifier_server=$2
repo=$(cd "$(dirname "$0")/../.." && pwd)
cleanup_more() { "$repo/scripts/stream-server" stop >/dev/null 2>&1 || true; }
. "$(dirname "$0")/desktop.sh"
begin_test stream-show
eval "$("$repo/scripts/stream-server" start)" || fail "the stream server did not start"

app="$work/Kelvo Recorder"
mkdir -p "$app/configurations" "$app/show-settings" "$work/path" "$work/home"
cp "$bin/KelvoRecorder" "$bin/libkelvo.so" "$bin/libkelvo_stream.so" "$bin/encoder.bat" "$app/"
# No browser on this machine: whatever asks for one is written down.
printf '#!/bin/sh\nprintf "%%s\\n" "$1" >>"%s/opened.txt"\n' "$work" >"$work/path/xdg-open"
chmod +x "$work/path/xdg-open"

start_notifications "$notifier_server"
start_display

at() { date -d "@$1" '+%-I:%M:%S %p'; }
# show NAME START STOP ADDRESS: a WAV show of the monitor at input level 80, set to record
# its stream and keep it as broadcast.
show() {
    printf '"%s","%s","Windows Wave (WAV)","44.1 kHz (CD)","128 Kb/sec","2",1200,900,"Monitor of Speakers",80,"%s","",1,1,1,1,1,1,1\r\n' \
        "$(at "$2")" "$(at "$3")" "$4" >"$app/configurations/$1"
    printf 'keepStream=1\nrecordStream=1\n' >"$app/show-settings/$1"
}
run() { # show file
    DISPLAY="$display" QT_QPA_PLATFORM=xcb PATH="$work/path:$PATH" HOME="$work/home" \
        XDG_DATA_HOME="$work/home/share" XDG_CONFIG_HOME="$work/home/config" \
        "$app/KelvoRecorder" "$1" >>"$work/program.log" 2>&1 &
    program=$!
}
end_program() {
    kill -TERM "$program"
    wait "$program" || true
    program=""
}

start=$(($(date +%s) + 6))
stop=$((start + 12))
show "Stream Show.cia" "$start" "$stop" "$KELVO_STREAM_URL"
run "$app/configurations/Stream Show.cia"
# Loading a show gives its level to its source, as always; the recording changes nothing.
while [ "$(date +%s)" -lt $((start - 1)) ]; do sleep 0.05; done
volume_before=$(pactl get-source-volume speakers.monitor)

# When the file's data begins, on this clock: the first moment it holds audio, less what it
# holds by then.
wav="" began=""
while [ "$(date +%s)" -lt $((start + 15)) ]; do
    wav=$(ls "$app/soundfiles/"*.wav 2>/dev/null | head -1 || true)
    if [ -n "$wav" ]; then
        size=$(stat -c %s "$wav")
        if [ "$size" -gt 44 ]; then
            began=$(awk -v t="$(date +%s.%N)" -v b="$size" 'BEGIN { printf "%.3f", t - (b - 44) / 176400 }')
            break
        fi
    fi
    sleep 0.01
done
[ -n "$began" ] || fail "no recording began"
while [ "$(date +%s)" -lt $((start + 4)) ]; do sleep 0.1; done
"$repo/scripts/stream-server" title "Kelvo Title Four"
while [ "$(date +%s)" -lt $((stop + 3)) ]; do sleep 0.2; done
end_program

wavs=("$app/soundfiles/"*.wav)
[ ${#wavs[@]} -eq 1 ] || fail "expected one recording, found ${#wavs[@]}"
expected="Stream Show.cia-$(date -d "@$start" '+%m-%d-%y-%H-%M-%S').wav"
[ "$(basename "$wav")" = "$expected" ] || fail "recording named $(basename "$wav"), expected $expected"
[ ! -e "$work/opened.txt" ] || fail "a browser was asked for: $(cat "$work/opened.txt")"
[ "$(pactl get-source-volume speakers.monitor)" = "$volume_before" ] ||
    fail "the monitor's volume was changed: $(pactl get-source-volume speakers.monitor)"

# The stream's signal: one second each of 300, 400, ... 1200 Hz. Prints the first audio's
# offset in the file, the file's length and its level, and fails unless the first second
# after that offset holds the signal's tones at the stream's level.
cat >"$work/signal.py" <<'EOF'
import math, struct, sys, wave
w = wave.open(sys.argv[1])
rate, frames = w.getframerate(), w.getnframes()
left = struct.unpack("<%dh" % (2 * frames), w.readframes(frames))[0::2]
def db(a, b):
    s = sum(x * x for x in left[a:b]) / max(b - a, 1)
    return 10 * math.log10(s / 32768.0 ** 2 + 1e-20)
def tone(a):  # zero crossings over a tenth of a second, to the nearest 100 Hz when near one
    c = sum(1 for i in range(a + 1, a + rate // 10) if (left[i] < 0) != (left[i - 1] < 0))
    hz = c / 2 * 10
    return hz if abs(hz - round(hz / 100) * 100) <= 20 and 300 <= hz <= 1200 else 0
first = next((i for i, x in enumerate(left) if abs(x) > 104), None)
if first is None:
    print("only silence"); sys.exit(1)
level = db(first, first + rate)
whole = db(first, frames)
tones = [tone(first + k * rate // 10) for k in range(10)]
print("%.3f %.2f %.2f %.2f %s" % (first / rate, frames / rate, level, whole, tones))
wanted = float(sys.argv[2])
ok = first < rate // 2 and abs(level - wanted) <= 0.5 and abs(whole - wanted) <= 0.5
ok = ok and sum(1 for t in tones if t) >= 7
sys.exit(0 if ok else 1)
EOF
result=$(python3 "$work/signal.py" "$wav" "$KELVO_STREAM_MP3_DB") ||
    fail "the WAV does not hold the stream: $result"
read -r offset length level whole _ <<<"$result"
awk -v d="$length" 'BEGIN { exit !(d > 11 && d < 12.5) }' || fail "recorded ${length}s, expected 12"
delay=$(awk -v b="$began" -v s="$start" -v o="$offset" 'BEGIN { printf "%.2f", b - s + o }')

copy="${wav%.wav}.mp3"
[ -s "$copy" ] || fail "the stream was not kept as broadcast beside the WAV"
[ "$(ffprobe -v error -show_entries stream=codec_name -of csv=p=0 "$copy")" = mp3 ] ||
    fail "the kept copy is not the stream's MP3"
report="$wav.json"
grep -q '"title": "Kelvo Title Four"' "$report" || fail "the stream's title is not in the report: $(cat "$report")"
grep -q "\"address\": \"$KELVO_STREAM_URL\"" "$report" || fail "the report does not name the stream"
grep -qE "^Recording Stream Show.cia \| From $KELVO_STREAM_URL into soundfiles/" "$notified" ||
    fail "the start was not told with the stream"
grep -qE "^Recording Stream Show.cia ended" "$notified" || fail "the end was not told"

# told NAME ADDRESS TEXT: the show NAME, its stream at ADDRESS, scheduled 5 s from now; waits
# until its notification begins with TEXT (a pattern), then ends the program at its stop.
told() {
    local start=$(($(date +%s) + 5))
    show "$1" "$start" $((start + 4)) "$2"
    run "$app/configurations/$1"
    for _ in $(seq 150); do grep -qE "^$3" "$notified" && break; sleep 0.1; done
    grep -qE "^$3" "$notified" || fail "not told: $3"
    while [ "$(date +%s)" -lt $((start + 6)) ]; do sleep 0.2; done
    end_program
}
# nothing_for NAME: no file was left for the show NAME and no browser asked for.
nothing_for() {
    [ "$(ls "$app/soundfiles/" | grep -c "^$1")" -eq 0 ] || fail "a file was left for $1"
    [ ! -e "$work/opened.txt" ] || fail "a browser was asked for: $(cat "$work/opened.txt")"
}

# An address the stream's server does not have, and a port nobody answers on: told, nothing
# recorded, nothing opened.
missing=$KELVO_STREAM_WEB/no-such-stream.mp3
told Missing.cia "$missing" "Recording Missing.cia did not start \| the server of the stream $missing answered with an error"
nothing_for Missing.cia
told Unreachable.cia http://127.0.0.1:1/show "Recording Unreachable.cia did not start \| the stream http://127.0.0.1:1/show cannot be reached"
nothing_for Unreachable.cia

# A web page instead of a stream is said, and recorded the specified way (the browser, the
# monitor), with its report.
page=$KELVO_STREAM_WEB/page.html
told Page.cia "$page" "Recording Page.cia: $page is a web page, not an audio stream \|"
grep -qxF "$page" "$work/opened.txt" 2>/dev/null || fail "the page was not opened in the browser"
wav=$(ls "$app/soundfiles/"Page.cia-*.wav 2>/dev/null | head -1 || true)
[ -n "$wav" ] && [ -s "$wav.json" ] || fail "the page's show was not recorded with its report"

echo "stream show: ${length}s at ${level} dBFS in its first second (${whole} dBFS in all; the stream carries ${KELVO_STREAM_MP3_DB}); first audio ${offset}s into the file, ${delay}s after the scheduled start; broadcast kept ($(stat -c %s "$copy") bytes); 404, web page and unreachable port told"
