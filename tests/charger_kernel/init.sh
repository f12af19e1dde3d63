#!/bin/busybox sh
# The guest's init: the kernel's own devices and sysfs, arranged under the paths the charger
# uses, then a control shell on the second serial port for the test. Every line the charger
# and the recording tools print goes to the first serial port.
/bin/busybox --install -s /bin
export PATH=/bin
mkdir -p /proc /ksys /kdev /tmp /data
mount -t proc proc /proc
mount -t sysfs sysfs /ksys
mount -t devtmpfs devtmpfs /kdev
exec </kdev/ttyS0 >/kdev/ttyS0 2>&1

for m in $(cat /modules/order); do
    insmod "/modules/$m" || echo "GUEST-ERROR insmod $m"
done

# Waits up to 60 s for a path to appear (drivers probe asynchronously).
await() {
    i=0
    while [ ! -e "$1" ] && [ $i -lt 600 ]; do usleep 100000; i=$((i + 1)); done
    [ -e "$1" ] || echo "GUEST-ERROR $1 never appeared"
}
await /kdev/fb0
await /ksys/class/power_supply/test_battery

# The input devices by their names: the PS/2 keyboard carries the power key, the virtio
# tablet stands in for the touch screen.
input_by_name() {
    for d in /ksys/class/input/event*; do
        if grep -qi "$1" "$d/device/name" 2>/dev/null; then echo "/kdev/input/${d##*/}"; return; fi
    done
}
i=0
while { [ -z "$(input_by_name keyboard)" ] || [ -z "$(input_by_name tablet)" ]; } && [ $i -lt 600 ]; do
    usleep 100000; i=$((i + 1))
done

# /dev: links to the kernel's nodes; the alarm driver is absent here, a plain file stands in.
for n in /kdev/*; do [ -d "$n" ] || ln -sf "$n" "/dev/${n##*/}"; done
mkdir -p /dev/graphics /dev/input
ln -s /dev/fb0 /dev/graphics/fb0
ln -s "$(input_by_name keyboard)" /dev/input/event2
ln -s "$(input_by_name tablet)" /dev/input/event0
: > /dev/alarm

# /sys: the kernel's battery (test_power) and framebuffer under the handset's names; the
# backlight is a plain file.
mkdir -p /sys/class/power_supply /sys/class/graphics /sys/class/backlight/micco-bl /sys/module
ln -s /ksys/class/power_supply/test_battery /sys/class/power_supply/battery
ln -s /ksys/class/graphics/fb0 /sys/class/graphics/fb0
ln -s /ksys/module/test_power /sys/module/test_power
echo 100 > /sys/class/backlight/micco-bl/brightness

for d in /ksys/class/input/*/device/name; do echo "GUEST input $d: $(cat $d)"; done
echo "GUEST keyboard=$(readlink /dev/input/event2) tablet=$(readlink /dev/input/event0)"
# The control shell: one command a line, not interactive; the port is held open before
# the test is told to go on, so nothing it sends is dropped.
stty -F /kdev/ttyS1 -echo 2>/dev/null
exec 3<>/kdev/ttyS1
echo "GUEST-READY uptime $(cut -d' ' -f1 /proc/uptime)"
while read -r line <&3; do eval "$line" </dev/null >&3 2>&1; done
echo "GUEST-ERROR the control shell ended"
