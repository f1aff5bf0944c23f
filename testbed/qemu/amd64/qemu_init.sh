#!/bin/busybox sh
# /init of the qemu smoke test's initramfs (built by qemu_smoke.sh): loads
# and unloads kx-pps.ko in a real Debian kernel and reports on the serial
# console (the protocol of lib/README.md, read by qemu_smoke_checks.py):
# KXQ results of the steps below and KXQLOG the kernel log of each phase;
# KXQ ok|FAIL the checks of qemu_devcheck. The opening, the power-off at
# the end and say/log/ins are lib/guest_init.sh's.
. /lib/kxq/guest_init.sh

M=/lib/modules/kx
# until a receive run has ended after now, however slow the guest: bytes
# queued after a drain come from a run that ends after it (and sends a
# pending satellite-mode command at its end); 10 s is only a cap
receive_run_after() {
	local i=0
	/bin/qemu_devcheck drain >/dev/null
	while [ $i -lt 100 ] && [ "$(/bin/qemu_devcheck drain | sed -n 's/^KXQ drained //p')" = 0 ]; do
		sleep 0.1
		i=$((i + 1))
	done
	sleep 0.2
}
# the guest's uptime in hundredths of a second
uptime_cs() { local t; t=$(cut -d' ' -f1 /proc/uptime); echo $((${t%.*} * 100 + 1${t#*.} - 100)); }
state() {
	say "$1 filter_dir $(exists /sys/pps_filter)"
	say "$1 platform_driver $(exists /sys/bus/platform/drivers/pps)"
	say "$1 serdev_driver $(exists /sys/bus/serial/drivers/pps-uart-serdev)"
	say "$1 dev_node $(exists /dev/kx_pps)"
	say "$1 class $(exists /sys/class/pps_chardev_class)"
	say "$1 dac_client $(cat /sys/bus/i2c/devices/1-004c/name 2>/dev/null || echo none)"
	say "$1 module $(loaded kx_pps)"
}

log boot

# the PHY driver's stand-in first: kx-pps uses its exports
say phystub_insmod "$(ins $M/kxpps-phystub.ko)"

# no I2C adapter yet: the load must fail cleanly
say noadapter_adapters "$(ls /sys/bus/i2c/devices | tr '\n' ' ')"
say noadapter_insmod "$(ins $M/kx-pps.ko)"
state noadapter
log noadapter

# adapter 0 from the chipset's SMBus, adapter 1 a stub answering at 0x4C
say i801_insmod "$(ins $K/i2c-smbus.ko) / $(ins $K/i2c-i801.ko)"
say stub_insmod "$(ins $K/i2c-stub.ko chip_addr=0x4c)"
for a in /sys/bus/i2c/devices/i2c-*; do
	say adapter "${a##*/} $(cat "$a/name")"
done
log adapters

# the real load
say load_insmod "$(ins $M/kx-pps.ko)"
state loaded
log load
say loaded deferred "$(cat /sys/kernel/debug/devices_deferred 2>/dev/null | cut -f1 | tr '\n' ' ')"
# the module's parameters, read-only; no pulse here, so no count yet
p=/sys/module/kx_pps/parameters
say params "$(ls $p | tr '\n' ' ')$(cat $p/last_count) $(echo 5 2>/dev/null >$p/last_count && echo written)"
# the holdover limit: the writable parameter and the attribute are one value
say holdover_limit "$(echo 120 >$p/holdover_limit && cat /sys/pps_filter/holdover_setting)$(
	echo 0 >/sys/pps_filter/holdover_setting && echo " $(cat $p/holdover_limit)")"
/bin/qemu_devcheck full
say devcheck_rc $?
log devcheck

# the GPS receiver on ttyS1 starts talking (qemu_gps_feed.py watches the
# console for this line): one GGA and ZDA per second, ten seconds per second
gps=/sys/bus/serial/devices/serial0-0
sdrv=/sys/bus/serial/drivers/pps-uart-serdev
say gps_bound "$(exists $gps/driver)"
say gps start
i=0
while [ $i -lt 75 ] && [ "$(cat /sys/pps_filter/gpsfix)" != 1 ]; do
	sleep 0.2
	i=$((i + 1))
done
say gps_fix "$(cat /sys/pps_filter/gpsfix)"
say gps_holdover_time "$(cat /sys/pps_filter/holdover_time)"
/bin/qemu_devcheck nmea
say gps_nmea_rc $?
# satellite modes: 3 goes out to the receiver with the next lines, 7 not at
# all (the feeder keeps what the driver sends)
echo 3 >/sys/pps_filter/gpsmode
receive_run_after
echo 7 >/sys/pps_filter/gpsmode
sleep 1
# the receiver falls silent: the timeout monitor clears the fix after 5 s;
# the time it took is measured on the guest's clock (hundredths), not in
# polls, which take longer on a slow host (30 s is only a cap)
say gps pause
t0=$(uptime_cs)
while [ $(($(uptime_cs) - t0)) -lt 3000 ] && [ "$(cat /sys/pps_filter/gpsfix)" != 0 ]; do
	sleep 0.2
done
say gps_silent_fix "$(cat /sys/pps_filter/gpsfix) $(($(uptime_cs) - t0))"
say gps resume
# unbound, the driver feeds nothing more; bound again, it does
echo serial0-0 >$sdrv/unbind
say gps_unbound "$(exists $gps/driver)"
/bin/qemu_devcheck drain >/dev/null
sleep 0.5
say gps_unbound_queue "$(/bin/qemu_devcheck drain | sed -n 's/^KXQ drained //p')"
echo serial0-0 >$sdrv/bind
say gps_rebound "$(exists $gps/driver)"
# the port opens in the middle of the stream, so its first line may begin
# mid-sentence; let it be queued, to be dropped with the rest
sleep 1
/bin/qemu_devcheck nmea
say gps_rebound_nmea_rc $?
# unbind and bind ten times under the stream, with a reader on the device
# and the attributes read all the while
/bin/qemu_devcheck reader 4 &
reader=$!
(
	end=$(($(date +%s) + 4))
	while [ "$(date +%s)" -lt $end ]; do
		cat /sys/pps_filter/* >/dev/null 2>&1
	done
) &
attrs=$!
i=0
ok=0
while [ $i -lt 10 ]; do
	echo serial0-0 >$sdrv/unbind && sleep 0.1 && echo serial0-0 >$sdrv/bind && ok=$((ok + 1))
	sleep 0.15
	i=$((i + 1))
done
wait $reader
say gps_stress_reader_rc $?
wait $attrs
say gps_stress_binds "$ok $(exists $gps/driver)"
# 32 KiB of line noise with nobody reading: the queue keeps at most 4096
# bytes; whole sentences flow again afterwards
/bin/qemu_devcheck drain >/dev/null
say gps noise
sleep 3
say gps_noise_queue "$(/bin/qemu_devcheck drain | sed -n 's/^KXQ drained //p')"
/bin/qemu_devcheck nmea
say gps_after_noise_nmea_rc $?
log gps
# an open device holds the module
sleep 60 </dev/kx_pps &
holder=$!
sleep 0.2
say busy_rmmod "$(rmm kx_pps)"
kill $holder
wait $holder
say unload_rmmod "$(rmm kx_pps)"
state unloaded
log unload
say gps stop

# reload a few times in a row
i=1
while [ $i -le 3 ]; do
	say cycle$i "insmod $(ins $M/kx-pps.ko)"
	/bin/qemu_devcheck quick
	say cycle$i "devcheck $?"
	say cycle$i "rmmod $(rmm kx_pps)"
	say cycle$i "left $(loaded kx_pps)$(exists /sys/pps_filter)$(exists /dev/kx_pps)"
	log cycle$i
	i=$((i + 1))
done

say phystub_rmmod "$(rmm kxpps_phystub)"
say modules_left "$(cut -d' ' -f1 /proc/modules | tr '\n' ' ')"
log final
say tainted "$(cat /proc/sys/kernel/tainted)"
say end
