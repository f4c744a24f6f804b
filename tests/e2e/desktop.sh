# Sourced by the whole-program tests: a sound server of the test's own, a tone into
# "Speakers", a virtual display of its own and private buses with a stand-in notification
# service. begin_test gives the test its $work, fail() and the cleanup at exit; the others
# set $tone, $xvfb, $bus, $sysbus and $server, which that cleanup ends, and $display and
# $notified.

e2e_repo=$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)

# fail MESSAGE: says what went wrong with what the program and the notification stand-in
# wrote, and ends the test.
fail() {
    echo "FAIL: $*" >&2
    for log in "${notified:-}" "${work:-}/program.log" "${app:-}/program.log"; do
        [ -s "$log" ] && { echo "--- $log" >&2; cat "$log" >&2; }
    done
    exit 1
}

# begin_test NAME: the test's folder $work, a cleanup at exit that ends whatever the test
# started (after the test's own cleanup_more, if it has one), and a sound server of its own.
begin_test() {
    work=$(mktemp -d "/tmp/kelvo-$1.XXXXXX")
    program="" tone="" xvfb="" bus="" sysbus="" server=""
    trap end_test EXIT
    own_sound_server
}
end_test() {
    for pid in $program $server $bus $sysbus; do kill "$pid" 2>/dev/null || true; done
    if declare -F cleanup_more >/dev/null; then cleanup_more; fi
    stop_desktop
    rm -rf "$work"
}

# own_sound_server: a private server of the suite's kind (KELVO_SOUND_SERVER) for this test
# alone, so that killing it, reviving it, playing into its sinks or changing its defaults
# touches no other test, and the whole-program tests run side by side. stop_desktop ends it.
own_sound_server() {
    local exports
    exports=$("$e2e_repo/scripts/sound-server" start "${KELVO_SOUND_SERVER:-pulse}") ||
        fail "a sound server of the test's own did not start"
    eval "$exports"
    own_server=$KELVO_PULSE_DIR
}

# play_tone SECONDS: a 1 kHz tone at half scale into "Speakers" (again, after a restart of
# the sound server), so that its monitor delivers in small blocks, as on a desktop.
play_tone() {
    [ -f "$work/tone.wav" ] || sox -q -n -r 44100 -c 2 "$work/tone.wav" synth "$1" sine 1000 vol 0.5
    if [ -n "${tone:-}" ]; then kill "$tone" 2>/dev/null || true; fi
    paplay -d speakers "$work/tone.wav" &
    tone=$!
}

# start_display: Xvfb picks a free display number and writes it to fd 3. Without -noreset it
# starts over when its last client leaves, as the check below does, and a program connecting
# in that moment is turned away.
start_display() {
    Xvfb -displayfd 3 -screen 0 1280x800x24 -nolisten tcp -noreset 3>"$work/display" 2>/dev/null &
    xvfb=$!
    for _ in $(seq 50); do [ -s "$work/display" ] && break; sleep 0.1; done
    [ -s "$work/display" ] || fail "Xvfb did not start"
    display=":$(cat "$work/display")"
    for _ in $(seq 50); do xprop -display "$display" -root >/dev/null 2>&1 && return 0; sleep 0.1; done
    fail "the virtual display $display does not answer"
}

# stop_desktop: ends the tone, the display and the test's own sound server, and waits until
# the display is gone, so that its number is free for the next test and nothing of this one
# holds ctest's output open.
stop_desktop() {
    if [ -n "${tone:-}" ]; then kill "$tone" 2>/dev/null || true; fi
    if [ -n "${xvfb:-}" ]; then
        kill "$xvfb" 2>/dev/null || true
        wait "$xvfb" 2>/dev/null || true
    fi
    if [ -n "${own_server:-}" ]; then
        KELVO_PULSE_DIR=$own_server "$e2e_repo/scripts/sound-server" stop >/dev/null 2>&1 || true
    fi
}

# start_notifications SERVER: private session and "system" buses, so that notifications go
# to the stand-in SERVER, which writes them to $notified, and no inhibitor reaches the
# machine's own logind.
start_notifications() {
    dbus-daemon --session --nofork --nopidfile --address="unix:path=$work/session-bus" &
    bus=$!
    dbus-daemon --session --nofork --nopidfile --address="unix:path=$work/system-bus" &
    sysbus=$!
    for _ in $(seq 50); do [ -S "$work/session-bus" ] && [ -S "$work/system-bus" ] && break; sleep 0.1; done
    export DBUS_SESSION_BUS_ADDRESS="unix:path=$work/session-bus"
    export DBUS_SYSTEM_BUS_ADDRESS="unix:path=$work/system-bus"
    notified="$work/notified.txt"
    "$1" "$notified" >"$work/server.out" &
    server=$!
    for _ in $(seq 50); do grep -q ready "$work/server.out" 2>/dev/null && break; sleep 0.1; done
    grep -q ready "$work/server.out" || fail "the notification stand-in did not start"
}
