#!/bin/busybox sh
# shellcheck shell=dash
# /init of panelmon's clock-step test (built by qemu_clock_step.sh): runs
# panelmon (board build, no board hardware: its I2C and GPIO opens fail and
# it runs on) in a KX_ROOT tree and steps the system clock under it.
# Results for the host: "KXQ step ..." (panelmon_clockstep), "KXQ alive
# 0|1", panelmon's output as KXQLOG panelmon, "KXQ end".
. /lib/kxq/guest_init.sh
root=/kx
mkdir -p $root/sys/pps_filter $root/var/volatile/rundata $root/etc
echo 1 >$root/sys/pps_filter/gpsfix
echo 1 >$root/sys/pps_filter/timeknown
KX_ROOT=$root /bin/panelmon >/tmp/panelmon.out 2>&1 &
pid=$!
/bin/panelmon_clockstep $root/var/volatile/rundata
say alive "$(kill -0 $pid 2>/dev/null && echo 1 || echo 0)"
kill $pid
sed 's/^/KXQLOG panelmon /' /tmp/panelmon.out | head -n 20
say end
