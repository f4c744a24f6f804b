#!/usr/bin/env bash
# The built program, driven only from outside as a user would: a show file with a schedule
# a few seconds ahead, MP3 output and a webcast address, handed over on the command line;
# a tone playing into the sink whose monitor the show records. Checks the recording starts
# and stops on time, the WAV and the MP3 hold the tone, the address was opened once, and
# the show is saved when the program is asked to end.
#   whole_program_test.sh BUILD_BIN_FOLDER
set -euo pipefail
bin=$(cd "$1" && pwd)
. "$(dirname "$0")/desktop.sh"
begin_test e2e

# A program folder of its own, laid out as the build lays it out.
app="$work/Kelvo Recorder"
mkdir -p "$app/configurations" "$work/path" "$work/home"
cp "$bin/KelvoRecorder" "$bin/libkelvo.so" "$bin/libkelvo_stream.so" "$bin/encoder.bat" "$app/"

# The stand-in for the desktop's opener records what it was asked to open.
cat >"$work/path/xdg-open" <<EOS
#!/bin/sh
printf '%s\n' "\$1" >>"$work/opened.txt"
EOS
chmod +x "$work/path/xdg-open"
# A bare host and path, as users type them: opened as http.
webcast="radio.example.com/live.m3u"

# Times in the show file's own form, h:mm:ss AM.
at() { date -d "@$1" '+%-I:%M:%S %p'; }
now=$(date +%s)
start=$((now + 8))
stop=$((start + 6))
show="$app/configurations/Evening News.cia"
printf '"%s","%s","MPEG Layer 3 (MP3)","44.1 kHz (CD)","128 Kb/sec","2",1200,900,"Monitor of Speakers",0,"%s","",1,1,1,1,1,1,1\r\n' \
    "$(at $start)" "$(at $stop)" "$webcast" >"$show"

play_tone 40

start_display

DISPLAY="$display" QT_QPA_PLATFORM=xcb PATH="$work/path:$PATH" HOME="$work/home" \
    XDG_DATA_HOME="$work/home/share" "$app/KelvoRecorder" "$show" >"$work/program.log" 2>&1 &
program=$!

# Wait for the scheduled recording to end and the encoder to finish.
deadline=$((stop + 25))
mp3=""
while [ "$(date +%s)" -lt "$deadline" ]; do
    mp3=$(ls "$app/soundfiles/"*.mp3 2>/dev/null | head -1 || true)
    if [ -n "$mp3" ] && ! pgrep -f "lame .*$(basename "$mp3")" >/dev/null; then break; fi
    sleep 0.5
done
wavs=("$app/soundfiles/"*.wav)
[ -f "${wavs[0]}" ] || { cat "$work/program.log"; fail "no recording in soundfiles"; }
[ ${#wavs[@]} -eq 1 ] || fail "expected one recording, found ${#wavs[@]}"
wav=${wavs[0]}
[ -n "$mp3" ] || fail "the encoder made no MP3"

# Started on the scheduled second: the name carries the start time.
expected="Evening News.cia-$(date -d "@$start" '+%m-%d-%y-%H-%M-%S').wav"
[ "$(basename "$wav")" = "$expected" ] || fail "recording named $(basename "$wav"), expected $expected"
duration=$(soxi -D "$wav")
awk -v d="$duration" 'BEGIN { exit !(d > 5.5 && d < 6.6) }' || fail "recorded ${duration}s, expected 6"

level() { sox "$1" -n stat 2>&1 | awk '/RMS     amplitude/ { print $3 }'; }
# Zero crossings of the first channel; sox's own "rough frequency" is too rough for this.
freq() {
    sox "$1" -t s16 -c 1 -r 16000 - remix 1 2>/dev/null | od -An -v -t d2 |
        awk '{ for (i = 1; i <= NF; i++) { n++; if (n > 1 && ($i < 0) != (last < 0)) c++; last = $i } }
             END { printf "%.0f", c / 2 / (n / 16000) }'
}
check_tone() {
    local rms f
    rms=$(level "$1"); f=$(freq "$1")
    awk -v r="$rms" -v f="$f" 'BEGIN { exit !(r > 0.25 && r < 0.45 && f > 950 && f < 1050) }' ||
        fail "$2 does not hold the tone (RMS $rms, frequency $f)"
}
check_tone "$wav" "the WAV"
lame --quiet --decode "$mp3" "$work/decoded.wav"
check_tone "$work/decoded.wav" "the MP3"

[ "$(cat "$work/opened.txt" 2>/dev/null)" = "http://$webcast" ] || fail "webcast opened: '$(cat "$work/opened.txt" 2>/dev/null)'"

# Ending the program (as a session logout does) saves the show.
pactl set-default-source microphone >/dev/null
kill -TERM "$program"
wait "$program" || true
program=""
after=$(cat "$show")
[ "$(printf '%s' "$after" | tr -cd ',' | wc -c)" -eq 18 ] || fail "saved show has not 19 fields: $after"
case "$after" in *'"Monitor of Speakers"'*'"'"$webcast"'"'*) ;; *) fail "saved show lost its settings: $after" ;; esac
echo "whole program: recorded $(basename "$wav") (${duration}s), MP3 made, webcast opened once, show saved"
