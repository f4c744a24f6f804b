#!/usr/bin/env bash
# The unattended recorder, driven from outside: a scheduled 14 s show; 4 s in, the sound
# server is killed, and 1.5 s later started again (with its own default source). A tone
# plays into the sink whose monitor the show records, again after the restart. Checks the
# file keeps the show's timeline (14 s), holds the tone in its last 4 s (so the chosen
# source was applied again), and that the start, the lost and returned device and the end
# were notified on the desktop's (private) notification service.
#   unattended_show_test.sh BUILD_BIN_FOLDER FAKE_NOTIFICATION_SERVER
set -euo pipefail
bin=$(cd "$1" && pwd)
notifier_server=$2
repo=$(cd "$(dirname "$0")/../.." && pwd)
. "$(dirname "$0")/desktop.sh"
begin_test unattended

app="$work/Kelvo Recorder"
mkdir -p "$app/configurations" "$work/home"
cp "$bin/KelvoRecorder" "$bin/libkelvo.so" "$bin/libkelvo_stream.so" "$bin/encoder.bat" "$app/"

start_notifications "$notifier_server"

at() { date -d "@$1" '+%-I:%M:%S %p'; }
start=$(($(date +%s) + 8))
stop=$((start + 14))
show="$app/configurations/Night Watch.cia"
printf '"%s","%s","Windows Wave (WAV)","44.1 kHz (CD)","128 Kb/sec","2",1200,900,"Monitor of Speakers",0,"","",1,1,1,1,1,1,1\r\n' \
    "$(at $start)" "$(at $stop)" >"$show"

play_tone 40

start_display

DISPLAY="$display" QT_QPA_PLATFORM=xcb HOME="$work/home" \
    XDG_DATA_HOME="$work/home/share" "$app/KelvoRecorder" "$show" >"$work/program.log" 2>&1 &
program=$!

# 4 s into the show the server dies; 1.5 s later it is back, with its own defaults.
while [ "$(date +%s)" -lt $((start + 4)) ]; do sleep 0.05; done
"$repo/scripts/sound-server" kill
sleep 1.5
eval "$("$repo/scripts/sound-server" revive)"
play_tone 40

while [ "$(date +%s)" -lt $((stop + 3)) ]; do sleep 0.2; done
wavs=("$app/soundfiles/"*.wav)
[ -f "${wavs[0]}" ] || { cat "$work/program.log"; fail "no recording in soundfiles"; }
[ ${#wavs[@]} -eq 1 ] || fail "expected one recording, found ${#wavs[@]}"
wav=${wavs[0]}
duration=$(soxi -D "$wav")
awk -v d="$duration" 'BEGIN { exit !(d >= 13.5 && d <= 14.5) }' ||
    fail "recorded ${duration}s, expected 14 +- 0.5: the timeline was not kept"

sox "$wav" "$work/last4.wav" trim -4
rms=$(sox "$work/last4.wav" -n stat 2>&1 | awk '/RMS     amplitude/ { print $3 }')
awk -v r="$rms" 'BEGIN { exit !(r > 0.25 && r < 0.45) }' ||
    fail "the last 4 s do not hold the tone (RMS $rms): recording went on from another source"

# A restarted server may answer before its sink's monitor is back: then the source is told
# missing and back rather than the device lost and back.
for expected in "^Recording Night Watch.cia \| From Monitor of Speakers" \
    "^Recording Night Watch.cia: (sound device|Monitor of Speakers is) back \| Gap of" \
    "^Recording Night Watch.cia ended: 0:00:1[0-9], .*gap.* \| soundfiles/"; do
    grep -qE "$expected" "$notified" || fail "not notified: $expected"
done

# The report beside the recording names the gap and the source the show asked for.
report="$wav.json"
[ -s "$report" ] || fail "no report beside $wav"
python3 - "$report" <<'PY' || fail "the report does not tell the gap: $(cat "$report")"
import json, sys
report = json.load(open(sys.argv[1]))
assert report["show"] == "Night Watch.cia", report["show"]
assert report["start"]["by"] == "schedule" and report["end"]["by"] == "stop time"
assert report["gaps"]["count"] >= 1 and "gap" in report["verdict"]
assert report["source"]["asked"] == "Monitor of Speakers"
assert report["level"]["peakDbfs"] is not None
PY
cat "$report"
echo "unattended show: ${duration}s with the tone after the restart; notified: $(wc -l <"$notified") times"
