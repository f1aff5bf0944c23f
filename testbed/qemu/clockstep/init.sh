#!/bin/busybox sh
# shellcheck shell=dash
# /init of panelmon's clock-step test (built by qemu_clock_step.sh): runs
# panelmon (board build, no board hardware: its I2C and GPIO opens fail and
# it runs on) in a KX_ROOT tree and steps the system clock under it.
# Lines the host script reads: "PMQ ..." (panelmon_clockstep), "PMQ alive
# 0|1", "PMQ end". The steps run in a child shell so init powers off.
if [ "$1" != steps ]; then
	/bin/busybox sh /init steps
	echo "PMQ steps exit $?"
	/bin/busybox poweroff -f
fi
/bin/busybox --install -s /bin
export PATH=/bin
mount -t proc proc /proc
mount -t sysfs sysfs /sys
mount -t devtmpfs devtmpfs /dev
root=/kx
mkdir -p $root/sys/pps_filter $root/var/volatile/rundata $root/etc
echo 1 >$root/sys/pps_filter/gpsfix
echo 1 >$root/sys/pps_filter/timeknown
KX_ROOT=$root /bin/panelmon >/tmp/panelmon.out 2>&1 &
pid=$!
/bin/panelmon_clockstep $root/var/volatile/rundata
if kill -0 $pid 2>/dev/null; then echo "PMQ alive 1"; else echo "PMQ alive 0"; fi
kill $pid
sed 's/^/PMQOUT /' /tmp/panelmon.out | head -n 20
echo "PMQ end"
