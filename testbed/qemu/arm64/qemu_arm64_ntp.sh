# The time service on the arm64 board, sourced by /init (kxmode=ntp): the
# receiver model's GPS time, months from the host's, through kx-pps,
# nmeafeed (SHM 0) and chronyd (PPS locked to SHM 0) to NTP clients and the
# locator on the host side (qemu user networking, UDP 123 and 7372
# forwarded; no route beyond the guest's own network). chronyd is
# configured as the package installs it and starts without the pulse
# source; then the source appears, the receiver jumps an hour ahead and
# comes back (the module's integrity guard holds the time), the holdover
# limit reaches a client on the host side, the module is reloaded and GPS
# is lost.
# The timing hardware pulses once a real second (period_us=1000000), since
# chronyd counts real seconds. KXQHOST <probe> asks the host side to query
# the guest; its one-line answer comes back on the control port.
host() {
	echo "KXQHOST $*"
	read -r reply <&3 || reply=none
	say "host_$1 $reply"
}
export LD_LIBRARY_PATH=/lib/aarch64-linux-gnu:/usr/lib/aarch64-linux-gnu
ip link set lo up
ip addr add 10.0.2.15/24 dev eth0
ip link set eth0 up
say net "$(ip -o -4 addr show eth0 | awk '{ print $4 }')"

# a query whose answer is not reported by itself
hostq() {
	echo "KXQHOST $*"
	read -r reply <&3 || reply=none
}
now() { cut -d. -f1 /proc/uptime; }
since() { echo $(($(now) - $1)); }
# what udev does for the pulse source: the rule's link, then its helper
udev_pps() {
	[ "$1" = remove ] || ln -sfn "/dev/$(ls /sys/class/pps | head -n1)" /dev/pps-kx
	ACTION=$1 /usr/libexec/kx-timeserver/kx-pps-chrony
}
# until chronyc's sources show $1 (a pattern of its CSV line), $2 s at most
wait_source() {
	t0=$(now)
	while [ "$(since "$t0")" -lt "$2" ] && ! chronyc -c sources 2>/dev/null | grep -q "$1"; do
		sleep 1
	done
	echo "$(since "$t0") $(chronyc -c sources 2>/dev/null | tr '\n' ' ')"
}

gps connect
gps offset "${kxgpsoffset:--17280000}"
gps position -33.8568 151.2153 58.0
gps fix 1
load ntp
# ten times the loop's default gain: locked within a minute. The timer
# device is unbound for a minute below (chronyd starts without the pulse
# source) and the loop's output then reaches no DAC (the DAC queue is the
# probed device's): the integrity guard must learn the oscillator from the
# code the DAC holds, or at the jump below it calls the true pulse wrong
echo 2000 >$F/k1
rx_open
udev_pps add
mkdir -p /var/volatile/rundata /var/lib/chrony /run
# chronyd keeps its command socket only in a directory closed to others
mkdir -m 0750 /run/chrony
echo 10.0.2.15 >/var/volatile/rundata/addr0.dat
nmeafeed >/tmp/nmeafeed.log 2>&1 &
locator >/tmp/locator.log 2>&1 &
ntpgate >/tmp/ntpgate.log 2>&1 &
say gps_time_set "$(wait_attr gps_time_set 300 1)"
# the clock is stepped at the second pulse with a GPS time
w=0
while [ $w -lt 100 ] && ! dmesg | grep -q 'Set Linux system clock from GPS'; do
	sleep 0.1
	w=$((w + 1))
done
say clock "$(date -u +%s) $(date -u '+%Y-%m-%d')"

# chronyd starts without the pulse source (the timer's probe deferred, say)
# and serves the receiver's time of day from the NTP segment alone
echo ppstimer >$PDRV/unbind
udev_pps remove
/etc/init.d/chrony start
sleep 1
say daemons "$(pidof nmeafeed) $(pidof locator) $(pidof ntpgate) $(pidof chronyd) $(tail -n 3 /tmp/chronyd.log | tr '\n' '|')"
say nopps_gps "$(wait_source '^#,\*,GPS,' 90)"
# the pulse source appears: chronyd is restarted and takes the pulse
old=$(pidof chronyd)
echo ppstimer >$PDRV/bind
udev_pps add
added=$(now)
say pps_added "$old|$(pidof chronyd)"
# synchronised to the pulse: the tracking's reference is PPS, leap normal;
# then settled: after the first updates, which know nothing of the clock's
# frequency yet, the root dispersion (the error bound the clients get)
# falls below 10 ms
tracking() {
	t=$(chronyc -c tracking 2>/dev/null)
	case $t in 50505300,PPS,*,Normal) echo "$t" | awk -F, -v d="$1" '$12 < d { ok = 1 } END { exit !ok }' ;;
	*) return 1 ;;
	esac
}
while [ "$(since "$added")" -lt 150 ] && ! tracking 1e9; do sleep 1; done
say synced "$(since "$added") $t"
while [ "$(since "$added")" -lt 200 ] && ! tracking 0.01; do sleep 2; done
say settled "$(since "$added") $t"
say sources "$(chronyc -c sources | tr '\n' ' ')"
say status_files "$(cat /var/volatile/rundata/coords.dat) alt=$(cat /var/volatile/rundata/altitude.dat) sats=$(cat /var/volatile/rundata/numsats.dat)"
host ntp
host locator
log synced

# A client on this side polls every second from here on.
client_state() {
	hostq client state
	st=$reply
}
wait_client() {	# until the client's state matches $1, $2 s at most
	t0=$(now)
	client_state
	while [ "$(since "$t0")" -lt "$2" ] && ! echo "$st" | grep -q "$1"; do
		sleep 1
		client_state
	done
}
hostq client start
wait_client 'li=0 .*sel=\*' 60
steps() { dmesg | grep -c 'Set Linux system clock'; }

# The receiver lies after lock: its time, pulse and sentences an hour ahead
# (a spoofer, a reset receiver). Once trusted (the qualifying period
# shortened by KX_PPS_ARGS), the module's integrity guard finds the label
# is not its own next second: the receiver is suspect, the loop holds over,
# no clock step, no pulse to LinuxPPS, no sample from nmeafeed. chronyd
# holds over on its own clock and goes on serving; the client here must see
# no step. Then the receiver is on time again: trusted again once it has
# agreed for the guard's period (or accepted by the operator), and the
# service goes on, again no step.
P=/sys/module/kx_pps/parameters
echo 30 >$P/gnss_qualify
say gnss_trusted "$(wait_attr gnss_state 900 trusted)"
hostq client mark
steps0=$(steps)
gps jump 3600
jumped=$(now)
say gnss_suspect "$(wait_attr gnss_state 100 suspect) $(attr gnss_reason) $(since "$jumped")"
sleep 10
hostq ntp
say suspect_ntp "$reply"
client_state
say suspect_client "$st $(attr gnss_state) $(attr gnss_reason)"
gps jump -3600
back=$(now)
# trusted again once it has agreed for gnss_agree seconds; should it not
# (the oscillator's prediction against the pulse out of the guard's budget),
# the operator accepts its time, which is the one the unit holds
say gnss_agreed "$(wait_attr gnss_state 400 trusted) $(since "$back")"
if [ "$(attr gnss_state)" != trusted ]; then
	echo 1 >$F/gnss_accept
	say gnss_accepted "$(attr gnss_state) $(since "$back")"
fi
# chronyd takes the pulses again at its next PPS polls
sleep 20
hostq ntp
say agreed_ntp "$reply"
client_state
say agreed_client "$st"
say gnss_steps "$steps0 $(steps) $(tr '\n' ' ' <$F/gnss_counts)"
log gnss_jump
# the receiver qualifying again for the rest, as before the guard
echo 100000 >$P/gnss_qualify
echo 1 >$F/gnss_accept

# The holdover limit reaches the clients. The fix is cut with a limit of
# 5 s: once the module no longer knows the time, the replies say not
# synchronised (leap 3) and the client takes no more samples; with the fix
# back the same chronyd takes the pulse again and the client the time.
wait_client 'li=0 .*sel=\*' 60
say client_synced "$st"
echo 5 >$F/holdover_setting
gps fix 0
cut=$(now)
say expired "$(wait_attr timeknown 300 0) $(since "$cut")"
expired=$(now)
wait_client 'li=3' 60
say unsynced "$(since "$expired") $(since "$cut") $st"
sleep 5
client_state
say still_unsynced "$st"
gps fix 1
back=$(now)
say known "$(wait_attr timeknown 300 1) $(since "$back")"
known=$(now)
wait_client 'li=0 .*sel=\*' 150
say resynced "$(since "$known") $(since "$back") $st"
hostq client stop
echo 0 >$F/holdover_setting
log holdover_limit

# The module reloaded (nmeafeed stopped for it): chronyd is restarted for
# the new pulse source and takes it; then it settles again
kill "$(pidof nmeafeed)"
while pidof nmeafeed >/dev/null; do sleep 0.1; done
say reload_rmmod "$(rmm kx_pps)"
rx 0
udev_pps remove
old=$(pidof chronyd)
load reload
rx_open
udev_pps add
reloaded=$(now)
nmeafeed >>/tmp/nmeafeed.log 2>&1 &
say reloaded "$old|$(pidof chronyd)"
say reload_sources "$(wait_source '^#,\*,PPS,' 150)"
while [ "$(since "$reloaded")" -lt 240 ] && ! tracking 0.01; do sleep 2; done
say resettled "$(since "$reloaded") $t"
log reload

# GPS lost: no fix and no pulses. chronyd goes on serving from its own
# clock, the error bound (root dispersion) growing with the time since the
# last update; the PPS source drops out of the selection once eight of its
# 16-second polls in a row had no pulse (some 130 s).
gps fix 0
echo 0 >$THW/pulses_on
lost=$(cut -d. -f1 /proc/uptime)
# past the last update from the pulses before the loss
sleep 20
host ntp
while [ "$(since "$lost")" -lt 170 ]; do
	chronyc -c sources | grep -q '^#,\*,PPS' || break
	sleep 2
done
say lost "$(since "$lost") $(chronyc -c tracking)"
say lost_sources "$(chronyc -c sources | tr '\n' ' ')"
host ntp
log lost
say nmeafeed_log "$(tail -n 3 /tmp/nmeafeed.log | tr '\n' '|')"
say ntpgate_log "$(tail -n 3 /tmp/ntpgate.log | tr '\n' '|')"
say chronyd_log "$(tail -n 5 /tmp/chronyd.log | tr '\n' '|')"
kill $(pidof chronyd) $(pidof nmeafeed) $(pidof locator) $(pidof ntpgate)
say tainted "$(cat /proc/sys/kernel/tainted)"
say end
