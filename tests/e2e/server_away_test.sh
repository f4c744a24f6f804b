#!/usr/bin/env bash
# The unattended recorder while the sound server is away, driven from outside:
#   - no server when the program starts; it comes 5 s later, before the show: the program
#     waits for it and records the show whole, from the show's source;
#   - the server dies 3 s before a show's start and is back 5 s after it: the recording starts
#     on time all the same, silence holds its time until the server is back, and both are
#     told.
# A tone plays into the sink whose monitor the shows record, from when the server is back.
# Notifications go to a private stand-in of the desktop's service.
#   server_away_test.sh BUILD_BIN_FOLDER FAKE_NOTIFICATION_SERVER
set -euo pipefail
bin=$(cd "$1" && pwd)
notifier_server=$2
repo=$(cd "$(dirname "$0")/../.." && pwd)
. "$(dirname "$0")/desktop.sh"
begin_test server-away

start_notifications "$notifier_server"

start_display

at() { date -d "@$1" '+%-I:%M:%S %p'; }
wait_until() { while [ "$(date +%s)" -lt "$1" ]; do sleep 0.05; done; }
revive() {
    eval "$("$repo/scripts/sound-server" revive)"
    play_tone 60
}

# run_program NAME START STOP: a program folder of its own with the show NAME scheduled from
# START to STOP (seconds since the epoch), started in the background.
run_program() {
    app="$work/$1"
    mkdir -p "$app/configurations" "$app/home"
    cp "$bin/KelvoRecorder" "$bin/libkelvo.so" "$bin/libkelvo_stream.so" "$bin/encoder.bat" "$app/"
    show="$app/configurations/$1.cia"
    printf '"%s","%s","Windows Wave (WAV)","44.1 kHz (CD)","128 Kb/sec","2",1200,900,"Monitor of Speakers",0,"","",1,1,1,1,1,1,1\r\n' \
        "$(at "$2")" "$(at "$3")" >"$show"
    DISPLAY="$display" QT_QPA_PLATFORM=xcb HOME="$app/home" XDG_DATA_HOME="$app/home/share" \
        "$app/KelvoRecorder" "$show" >"$app/program.log" 2>&1 &
    program=$!
}

# recording MIN MAX LAST: the one recording of $app, MIN to MAX seconds long, holding the tone
# in its last LAST seconds.
recording() {
    local wavs duration rms
    wavs=("$app/soundfiles/"*.wav)
    [ -f "${wavs[0]}" ] || fail "no recording in $app/soundfiles"
    [ ${#wavs[@]} -eq 1 ] || fail "expected one recording, found ${#wavs[@]}"
    wav=${wavs[0]}
    duration=$(soxi -D "$wav")
    awk -v d="$duration" -v lo="$1" -v hi="$2" 'BEGIN { exit !(d >= lo && d <= hi) }' ||
        fail "recorded ${duration}s, expected $1 to $2"
    rms=$(sox "$wav" -n trim "-$3" stat 2>&1 | awk '/RMS     amplitude/ { print $3 }')
    awk -v r="$rms" 'BEGIN { exit !(r > 0.25 && r < 0.45) }' ||
        fail "the recording does not hold the tone (RMS $rms): another source was recorded"
    echo "$duration"
}

end_program() {
    kill -TERM "$program"
    wait "$program" || true
    program=""
}

# 1. No server at the program's start; it comes 5 s later, 4 s before the show.
"$repo/scripts/sound-server" kill
now=$(date +%s)
run_program "Late Server" $((now + 9)) $((now + 15))
sleep 5
kill -0 "$program" 2>/dev/null || fail "the program ended without a sound server"
revive
wait_until $((now + 18))
kill -0 "$program" 2>/dev/null || fail "the program ended"
first=$(recording 5.5 6.6 5)
grep -qE "^Recording Late Server.cia \| From Monitor of Speakers" "$notified" ||
    fail "the start was not notified"
grep -q "Unable to detect a mixer" "$app/program.log" && fail "the mixer message was shown"
end_program
echo "server away: with no server at the program's start, the show recorded whole (${first}s)"

# 2. The server dies 3 s before a 12 s show's start and is back 5 s after it.
now=$(date +%s)
start=$((now + 8))
run_program "Restart" $start $((start + 12))
wait_until $((start - 3))
"$repo/scripts/sound-server" kill
wait_until $((start + 5))
revive
wait_until $((start + 15))
# The show's minute 40 stays minute 40 of its file: its whole time, the tone once back.
second=$(recording 11.5 12.6 5)
for expected in "^Recording Restart.cia \| From Monitor of Speakers" \
    "^Recording Restart.cia: (sound device lost|Monitor of Speakers is not there) \|" \
    "^Recording Restart.cia: (sound device|Monitor of Speakers is) back \| Gap of [5-8]\.[0-9] s" \
    "^Recording Restart.cia ended: .* \| soundfiles/"; do
    grep -qE "$expected" "$notified" || fail "not notified: $expected"
done
end_program
echo "server away: across the start, recorded ${second}s of 12, the tone from when the server was back"
