#!/bin/busybox sh
# /init of the arm64 board test's initramfs (built by qemu_arm64.sh): runs
# kx-pps on a real arm64 kernel with the board's device tree, the timing
# hardware model (kx-timinghw.ko) closing the loop, and the GPS receiver on
# the PL011.
# On the virtio console, the protocol of lib/README.md: KXQ results of the
# steps below, KXQLOG the kernel log of each phase, KXQPULSE the timing
# hardware's pulse records, KXQGPS a command the host passes to the receiver.
# kxmode= on the kernel command line: board (the checks) | rounds (100, or
# kxrounds=, load/unload rounds and 10 unbind/bind rounds under pulses and
# sentences) | bench (loop convergence
# from kxoffset=, records only) | ntp (the time service: qemu_arm64_ntp.sh).
# The opening and say/log/ins are lib/guest_init.sh's.
. /lib/kxq/guest_init.sh

M=/lib/modules/kx
F=/sys/pps_filter
THW=/sys/kernel/debug/kx_timinghw
PDRV=/sys/bus/platform/drivers/pps
SDRV=/sys/bus/serial/drivers/pps-uart-serdev
mode=${kxmode:-board}
pulses() { sed "s/^/KXQPULSE $1 /" $THW/pulses; }
# the receiver model is driven from the host: it sees this line, acts and
# answers on the virtio control port with one line
gps() {
	echo "KXQGPS $*"
	read -r reply <&3 || reply=none
	echo "KXQ gpsreply $* = $reply"
}
# The receiver's bytes reach the PL011 only while its port is open (see
# qemu_arm64_run.py): "rx 0" once the port is closed (the data queued for it
# is dropped), rx_open once the driver has it open again (its probe is
# asynchronous).
rx() {
	echo "KXQGPS rx $1"
	read -r reply <&3
}
rx_open() {
	w=0
	while [ $w -lt 50 ] && [ ! -e /sys/bus/serial/devices/serial0-0/driver ]; do
		sleep 0.1
		w=$((w + 1))
	done
	rx 1
}
attr() { cat $F/$1 2>/dev/null; }
# wait up to $2 tenths of a second until attribute $1 reads $3
wait_attr() {
	w=0
	while [ $w -lt "$2" ] && [ "$(attr "$1")" != "$3" ]; do
		sleep 0.1
		w=$((w + 1))
	done
	echo "$(attr "$1") $w"
}
state() {
	say "$1 filter_dir $(exists $F)"
	say "$1 platform_driver $(exists $PDRV)"
	say "$1 serdev_driver $(exists $SDRV)"
	say "$1 dev_node $(exists /dev/kx_pps)"
	say "$1 pps_source $(ls /sys/class/pps 2>/dev/null | tr '\n' ' ')"
	say "$1 threads $(ps -o comm | grep -c 'pps[01]-adj')"
	say "$1 module $(loaded kx_pps)"
}

log boot
say cpus "$(grep -c '^processor' /proc/cpuinfo)"
# the host's answers come on the virtio port "kxctl"; it stays open, as the
# port drops what arrives while nobody has it open; found by its name, as
# its number depends on the other virtio devices (the network's)
for p in /sys/class/virtio-ports/*; do
	[ "$(cat "$p/name" 2>/dev/null)" = kxctl ] && exec 3<"/dev/${p##*/}"
done
# the kernel's own modules, in dependency order (from the host's list)
for m in $(cat $K/order); do
	say kmod "$m $(ins $K/$m.ko)"
done
say phystub_insmod "$(ins $M/kxpps-phystub.ko)"
# In real seconds, the pulses lie on the receiver model's edges, as the
# receiver's own pulse and sentences do on the board: the time service
# depends on where in the second its sentences arrive.
if [ "$mode" = ntp ] && qemu_arm64_check edge /tmp/edge_ns; then
	kxtiminghw="$kxtiminghw edge_ns=$(cat /tmp/edge_ns)"
fi
say timinghw_insmod "$(ins $M/kx-timinghw.ko $kxtiminghw)"
say adapter "$(cat /sys/bus/i2c/devices/i2c-1/name 2>/dev/null)"
for p in /sys/bus/mdio_bus/devices/*; do
	say phy "${p##*/} $(cat "$p/phy_id") $(basename "$(readlink "$p/driver")")"
done
log timinghw

# kxpps= on the kernel command line: kx-pps's module parameters
load() {
	# shellcheck disable=SC2086
	say "$1 insmod $(ins $M/kx-pps.ko ${kxpps:-})"
}

if [ "$mode" = ntp ]; then
	. /ntp.sh
	exit 0
fi

if [ "$mode" = bench ]; then
	load bench
	log bench
	# the records of the first kxpulses pulses after the counter started
	n=0
	while [ "$(cat $THW/pulse_count)" -lt "${kxpulses:-1000}" ] && [ $n -lt 6000 ]; do
		sleep 0.5
		pulses bench
		n=$((n + 1))
	done
	echo 0 >$THW/pulses_on
	pulses bench
	say bench_freqcorr "$(attr freqcorr)"
	rmmod kx_pps
	log bench_end
	say tainted "$(cat /proc/sys/kernel/tainted)"
	say end
	exit 0
fi

if [ "$mode" = rounds ]; then
	gps connect
	gps fix 1
	n=${kxrounds:-100}
	i=1
	bad=0
	while [ $i -le $n ]; do
		r=$(ins $M/kx-pps.ko)
		[ "${r%% *}" = 0 ] || { say "round$i insmod $r"; bad=$((bad + 1)); }
		rx_open
		# let a few pulses and sentences through, alternating the wait
		sleep 0.$((i % 3 * 5 + 5))
		cat $F/* >/dev/null 2>&1
		out=$(rmmod kx_pps 2>&1) || { say "round$i rmmod $out"; bad=$((bad + 1)); }
		rx 0
		[ -e $F ] && { say "round$i filter_left"; bad=$((bad + 1)); }
		[ -e /dev/kx_pps ] && { say "round$i dev_left"; bad=$((bad + 1)); }
		ls /sys/class/pps | grep -q . && { say "round$i pps_left"; bad=$((bad + 1)); }
		# slab objects in use after each of rounds 11-30 and of the last
		# 20 (with 60 rounds or more)
		w=
		if [ $n -ge 60 ]; then
			[ $i -ge 11 ] && [ $i -le 30 ] && w=early
			[ $i -gt $((n - 20)) ] && w=late
		fi
		[ -n "$w" ] && awk 'NR > 2 { print $1, $2 }' /proc/slabinfo >>/tmp/slab_$w
		i=$((i + 1))
		[ $((i % 10)) = 0 ] && log rounds
	done
	say rounds "$n"
	say rounds_failed $bad
	# the timer device and the receiver UART unbound and bound again under
	# pulses and sentences (removal while the interrupt and the receive
	# work run, on another CPU when there is one)
	r=$(ins $M/kx-pps.ko)
	[ "${r%% *}" = 0 ] || say "rebind insmod $r"
	rx_open
	i=0
	ok=0
	while [ $i -lt 10 ]; do
		sleep 0.$((i % 3 * 2 + 3))
		echo ppstimer >$PDRV/unbind && echo serial0-0 >$SDRV/unbind && rx 0 &&
			sleep 0.1 && echo ppstimer >$PDRV/bind && echo serial0-0 >$SDRV/bind &&
			rx_open && ok=$((ok + 1))
		i=$((i + 1))
	done
	say rebind "$ok"
	sleep 0.5
	out=$(rmmod kx_pps 2>&1) || say "rebind rmmod $out"
	rx 0
	# Objects freed later (RCU, reaped tasks) make the counts swing by
	# hundreds from round to round, but their floor stays: a cache whose
	# lowest count of rounds 81-100 lies 40 or more above that of rounds
	# 11-30 keeps something of most of the 70 loads in between.
	[ $n -ge 60 ] || say slab_growth skipped
	[ $n -lt 60 ] || say slab_growth "$(awk 'FILENAME ~ /early$/ && (!($1 in a) || $2 < a[$1]) { a[$1] = $2 }
		FILENAME ~ /late$/ && (!($1 in b) || $2 < b[$1]) { b[$1] = $2 }
		END { for (c in b) if ((c in a) && b[c] - a[c] >= 40) printf "%s:+%d ", c, b[c] - a[c] }' \
		/tmp/slab_early /tmp/slab_late)"
	state rounds_end
	log rounds
	say tainted "$(cat /proc/sys/kernel/tainted)"
	say end
	exit 0
fi

# ---- load and probe ---------------------------------------------------------
# the receiver comes on the PL011 just before the module is loaded
gps connect
gps fix 1
load load
rx_open
state loaded
log load
say attrs "$(ls $F | tr '\n' ' ')"
say k1 "$(attr k1)"
say deferred "$(cat /sys/kernel/debug/devices_deferred 2>/dev/null | tr '\n' ' ')"
ppsdev=/dev/$(ls /sys/class/pps | head -n1)
say ppsname "$(cat /sys/class/pps/${ppsdev#/dev/}/name 2>/dev/null)"
say ppspath "$(cat /sys/class/pps/${ppsdev#/dev/}/path 2>/dev/null)"

# ---- pulses through the LinuxPPS API ----------------------------------------
/bin/qemu_arm64_check pps "$ppsdev" 40 steady
say ppscheck_rc $?
log pps

# ---- the GPS receiver: fix, system clock, sentences, PHY alignment ---------
# the system clock starts 1000 s wrong; the module must set it from GPS time
date -s @$(($(date +%s) - 1000)) >/dev/null
say gps_fix "$(wait_attr gpsfix 300 1)"
say gps_time_set "$(wait_attr gps_time_set 50 1)"
say timeknown "$(wait_attr timeknown 30 1)"
sleep 3
/bin/qemu_arm64_check nmea 30
say nmea_rc $?
# the latest ZDA's second against the system clock
zda=$(/bin/qemu_devcheck drain >/dev/null; sleep 1.2; timeout 3 head -c 1500 /dev/kx_pps |
	grep -a '^\$G.ZDA,' | tail -n1)
set -- $(echo "$zda" | tr ',' ' ')
zsec=$(date -u -d "$5-$4-$3 $(echo "$2" | cut -c1-2):$(echo "$2" | cut -c3-4):$(echo "$2" | cut -c5-6)" +%s 2>/dev/null)
say clock "zda=$zsec now=$(date +%s)"
# the PHY threads step their clocks from the fifth out-of-range second on
i=0
while [ $i -lt 150 ] && { [ "$(attr phy_delta1)" = 0 ] || [ "$(attr phy_delta2)" = 0 ]; }; do
	sleep 0.1
	i=$((i + 1))
done
say phy_delta "$(attr phy_delta1) $(attr phy_delta2)"
log gps

# ---- the PHY clocks through the kernel's PTP clock class --------------------
# One /dev/ptpN per PHY, eth0's first (kx-pps subscribes to it first). Read
# by linuxptp's phc_ctl, and against the receiver model's GPS time (the
# host's): the alignment keeps each on GPS time plus the TAI offset. Here
# the pulses lie at no fixed phase of the receiver's second (only the time
# service's rig puts them on its edges) and the alignment follows a step
# only after a few out-of-range pulses, so the check is to 1.2 s: the TAI
# offset applied and the clock taken from GPS time, not from its start
# (set from a system clock 1000 s wrong). ptppin routes the pulse pin to
# time-stamping and back.
tai=$(attr tai_offset)
say tai_offset "$tai"
for c in /sys/class/ptp/ptp*; do
	[ "$(cat "$c/clock_name" 2>/dev/null)" = kxpps-phystub ] || continue
	dev=/dev/${c##*/}
	say ptp_clock "$dev"
	say phc_ctl "$dev $(phc_ctl "$dev" get 2>&1 | sed -n 's/.*clock time is \([0-9]*\)\..*/\1/p') $(date +%s)"
	/bin/qemu_arm64_check phc "$dev" "$tai" 1200000000
	say phc_rc "$dev $?"
	say ptppin "$dev $(ptppin "$dev" 0 0 enable 2>&1; echo $?) $(ptppin "$dev" 0 0 disable 2>&1; echo $?)"
done
log ptp

# satellite mode 3 reaches the receiver with the next lines; 7 sends nothing
echo 3 >$F/gpsmode
sleep 2
echo 7 >$F/gpsmode
sleep 1
log gpsmode

# ---- the closed loop --------------------------------------------------------
# from the board's +1 ppm: the records of 700 pulses, then freqcorr
loop_run() {
	tag=$1 n=$2
	start=$(cat $THW/pulse_count)
	while [ $(($(cat $THW/pulse_count) - start)) -lt "$n" ]; do
		sleep 1
		pulses "$tag"
	done
	pulses "$tag"
	say "$tag freqcorr $(attr freqcorr)"
	say "$tag dac $(cat $THW/dac_code)"
	say "$tag prv_integ_fp $(attr prv_integ_fp)"
}
loop_run plus1 ${kxloop:-800}
log plus1
# -3 ppm: the oscillator changes, the loop restarts from a zero seed, which
# moves the DAC to mid-scale at once (no pulse meanwhile)
echo 0 >$THW/pulses_on
echo -3000000000 >$THW/offset
echo 0 >$F/prv_integ_fp
sleep 0.3
say minus3 "dac_after_seed $(cat $THW/dac_code)"
echo 1 >$THW/pulses_on
loop_run minus3 ${kxloop:-800}
log minus3

# paused: the DAC and the integrator keep still while pulses go on
echo 1 >$F/pause
sleep 0.3
a="$(cat $THW/dac_code) $(attr prv_integ_fp)"
attr freqcorrdelta >/dev/null
p=$(cat $THW/pulse_count)
sleep 2
say paused "pulses=$(($(cat $THW/pulse_count) - p)) before=$a after=$(cat $THW/dac_code) $(attr prv_integ_fp) fcd=$(attr freqcorrdelta)"
# resumed: re-seeded, then updating again
echo 0 >$F/pause
sleep 2
say resumed "fcd=$(attr freqcorrdelta)"
pulses pause

# re-seeding the integrator (2.0) moves the DAC at once; the show keeps
# the old integrator until the next capture seeds it
echo 0 >$THW/pulses_on
sleep 0.3
old=$(attr prv_integ_fp)
echo 134217728 >$F/prv_integ_fp
sleep 0.3
say reseed "dac=$(cat $THW/dac_code) shown=$(attr prv_integ_fp) old=$old"
pulses reseed
echo 1 >$THW/pulses_on
sleep 1
pulses reseed

# lost pulses: no capture for 1 s, the DAC holds; the first capture after
# the gap is out of the window, updates resume with the one after it
echo 0 >$THW/pulses_on
sleep 0.3
d=$(cat $THW/dac_code)
sleep 1
say lost "dac_before=$d dac_during=$(cat $THW/dac_code) timeknown=$(attr timeknown)"
echo 1 >$THW/pulses_on
sleep 1
pulses lost
log loop

# lost fix: holdover for holdover_setting seconds, then expired; back on fix
echo 3 >$F/holdover_setting
gps fix 0
say nofix "$(wait_attr gpsfix 50 0)"
say nofix_holdover "$(attr timeknown) $(attr holdover_time)"
say expired "$(wait_attr timeknown 100 0) $(attr holdover_time)"
gps fix 1
say refix "$(wait_attr gpsfix 200 1) $(attr timeknown) $(attr holdover_time)"
echo 0 >$F/holdover_setting
# silent receiver: the timeout monitor clears the fix and resends the speed
gps silent 1
say silent "$(wait_attr gpsfix 100 0)"
sleep 6
gps silent 0
say unsilent "$(wait_attr gpsfix 300 1)"
log holdover

# ---- unbind and bind both drivers under pulses and sentences ---------------
i=0
ok=0
while [ $i -lt 5 ]; do
	echo ppstimer >$PDRV/unbind && echo serial0-0 >$SDRV/unbind && rx 0 &&
		sleep 0.2 && echo ppstimer >$PDRV/bind && echo serial0-0 >$SDRV/bind &&
		rx_open && ok=$((ok + 1))
	sleep 0.3
	i=$((i + 1))
done
say rebind "$ok"
state rebound
/bin/qemu_arm64_check pps "/dev/$(ls /sys/class/pps | head -n1)" 10
say rebound_ppscheck_rc $?
/bin/qemu_arm64_check nmea 10
say rebound_nmea_rc $?
log rebind

# ---- unload under pulses and sentences, reload ------------------------------
say unload_rmmod "$(rmm kx_pps)"
rx 0
state unloaded
log unload
i=1
while [ $i -le 3 ]; do
	say cycle$i "insmod $(ins $M/kx-pps.ko)"
	rx_open
	sleep 0.5
	say cycle$i "source $(ls /sys/class/pps | wc -l) threads $(ps -o comm | grep -c 'pps[01]-adj')"
	say cycle$i "rmmod $(rmm kx_pps)"
	rx 0
	say cycle$i "left $(loaded kx_pps)$(exists $F)$(exists /dev/kx_pps)"
	log cycle$i
	i=$((i + 1))
done
say timinghw_rmmod "$(rmm kx_timinghw)"
say phystub_rmmod "$(rmm kxpps_phystub)"
log final
say tainted "$(cat /proc/sys/kernel/tainted)"
say end
