#!/bin/sh
# Runs the real poweroff_charger, paths unchanged, in a private mount namespace whose root
# is a fake handset made here: the battery in /sys/class/power_supply/battery, the key and
# touch devices as FIFOs, /dev/alarm, an empty /chargeimage, no display, and a /system/bin
# whose reboot, sync, echo and chmod record what they were asked to do (NAME|ARGUMENTS).
#
#   e2e.sh BINARY EVENT_SIZE [RUNNER]
# EVENT_SIZE is the binary's struct input_event (24 on a 64-bit host, 16 on the handset);
# RUNNER runs a foreign binary (qemu-arm). Exit 77 (skipped) only where no private mount
# namespace can be had.
set -eu
binary=$1
event_size=$2
runner=${3:-}

if [ "$(id -u)" -ne 0 ] || ! unshare -m true 2>/dev/null; then
    echo "SKIP: a private mount namespace (unshare -m as root) is not possible here"
    exit 77
fi

work=$(mktemp -d /tmp/charger-e2e-XXXXXX)
trap 'rm -rf "$work"' EXIT
failures=0

fail() {
    echo "FAIL [$case]: $*"
    echo "--- log of [$case]"
    cat "$root/log" | head -c 2000
    echo "--- commands of [$case]"
    cat "$root/data/commands" 2>/dev/null || true
    failures=$((failures + 1))
}

recording_tool() {  # NAME BODY
    printf '#!/bin/sh\nprintf "%%s|%%s\\n" %s "$*" >> /data/commands\n%s\n' "$1" "$2" \
        > "$root/system/bin/$1"
    chmod 755 "$root/system/bin/$1"
}

make_handset() {  # STATUS
    root=$work/$case
    mkdir -p "$root/usr" "$root/proc" "$root/dev/input" "$root/data" "$root/chargeimage" \
             "$root/system/bin" "$root/sys/class/power_supply/battery" \
             "$root/sys/class/graphics/fb0" "$root/sys/class/backlight/micco-bl"
    for d in bin lib lib32 lib64 sbin; do
        if [ -L "/$d" ]; then ln -s "$(readlink "/$d")" "$root/$d"; fi
    done
    : > "$root/dev/null"
    : > "$root/dev/alarm"
    mkfifo "$root/dev/input/event0" "$root/dev/input/event2"
    echo "$1" > "$root/sys/class/power_supply/battery/status"
    echo 57 > "$root/sys/class/power_supply/battery/capacity"
    echo 0 > "$root/sys/class/graphics/fb0/blank"
    echo 100 > "$root/sys/class/backlight/micco-bl/brightness"
    cp "$binary" "$root/poweroff_charger"
    ln -s /bin/sh "$root/system/bin/sh"
    recording_tool reboot ""
    recording_tool sync ""
    recording_tool echo 'printf "%s\n" "$*"'
    recording_tool chmod '/bin/chmod "$@"'
}

# Starts the program in the namespace; its pid in $pid. The FIFOs are held open for writing
# first, so the program's opens do not wait for a writer.
start_charger() {
    exec 3<>"$root/dev/input/event2" 4<>"$root/dev/input/event0"
    timeout 120 unshare -m sh -c '
        root=$1; shift
        mount --bind /usr "$root/usr"
        mount --bind /dev/null "$root/dev/null"
        mount --rbind /proc "$root/proc"
        exec chroot "$root" "$@"' sh "$root" $runner /poweroff_charger \
        > "$root/log" 2>&1 &
    pid=$!
}

finish_charger() {
    status=0
    wait "$pid" || status=$?
    exec 3>&- 4>&-
    [ "$status" -eq 0 ] || fail "exit status $status"
}

# One evdev event as the binary reads it: zero time, then type, code, value (little-endian).
event() {  # TYPE_BYTES CODE_BYTES VALUE_BYTES
    head -c $((event_size - 8)) /dev/zero
    printf "$1$2$3"
}

expect_commands() {
    expected=$1
    actual=$(cat "$root/data/commands" 2>/dev/null || true)
    [ "$actual" = "$expected" ] || fail "commands '$actual', expected '$expected'"
}

expect_in_log() {
    grep -qF -- "$1" "$root/log" || fail "log lacks '$1'"
}

expect_screen_dark() {
    [ "$(cat "$root/sys/class/backlight/micco-bl/brightness")" = 10 ] || fail "brightness not 10"
    [ "$(cat "$root/sys/class/graphics/fb0/blank")" = 1 ] || fail "screen not blanked"
}

# Discharging: the first pass powers the handset off.
case=discharging
make_handset Discharging
start_charger
finish_charger
expect_commands "reboot|-p"
expect_in_log "poweroff "
expect_in_log "line 216 : vtname is:/dev/tty1"
expect_in_log "Unable to get poweroff alarm "
expect_screen_dark

# Charging, then the power key pressed and held (its EV_SYN follows): the key boot.
case=power-key
make_handset Charging
start_charger
{ event '\001\000' '\164\000' '\001\000\000\000'; event '\000\000' '\000\000' '\000\000\000\000'; } >&3
finish_charger
expect_commands "reboot|"
expect_in_log "Event key: time 0.000000, type 1, code 116, value 1"
expect_in_log "t4= "
expect_screen_dark

if [ "$failures" -ne 0 ]; then
    echo "$failures failure(s)"
    exit 1
fi
echo "2 passed, 0 failed"
