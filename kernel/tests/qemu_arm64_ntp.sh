# The time service on the arm64 board, sourced by /init (kxmode=ntp): the
# receiver model's GPS time, months from the host's, through kx-pps,
# nmeafeed (SHM 0) and chronyd (PPS locked to SHM 0) to NTP clients and the
# locator on the host side (qemu user networking, UDP 123 and 7372
# forwarded; no route beyond the guest's own network).
# The virtual board pulses once a real second (period_us=1000000), since
# chronyd counts real seconds. KXQHOST <probe> asks the host side to query
# the guest; its one-line answer comes back on the control port.
host() {
	echo "KXQHOST $*"
	read -r reply <&3 || reply=none
	say "host_$1 $reply"
}
export LD_LIBRARY_PATH=/lib/aarch64-linux-gnu:/usr/lib/aarch64-linux-gnu
up=$(cut -d. -f1 /proc/uptime)
ip link set lo up
ip addr add 10.0.2.15/24 dev eth0
ip link set eth0 up
say net "$(ip -o -4 addr show eth0 | awk '{ print $4 }')"

gps connect
gps offset "${kxgpsoffset:--17280000}"
gps position -33.8568 151.2153 58.0
gps fix 1
load ntp
rx_open
ln -s "/dev/$(ls /sys/class/pps | head -n1)" /dev/pps-kx
mkdir -p /var/volatile/rundata /var/lib/chrony /run
# chronyd keeps its command socket only in a directory closed to others
mkdir -m 0750 /run/chrony
echo 10.0.2.15 >/var/volatile/rundata/addr0.dat
nmeafeed >/tmp/nmeafeed.log 2>&1 &
locator >/tmp/locator.log 2>&1 &
say gps_time_set "$(wait_attr gps_time_set 300 1)"
# the clock is stepped at the second pulse with a GPS time
w=0
while [ $w -lt 100 ] && ! dmesg | grep -q 'Set Linux system clock from GPS'; do
	sleep 0.1
	w=$((w + 1))
done
say clock "$(date -u +%s) $(date -u '+%Y-%m-%d')"
chronyd -u root -f /etc/chrony.conf -L 0 -l /tmp/chronyd.log
sleep 1
say daemons "$(pidof nmeafeed) $(pidof locator) $(pidof chronyd) $(tail -n 3 /tmp/chronyd.log | tr '\n' '|')"
# synchronised to the pulse: the tracking's reference is PPS, leap normal;
# then settled: after the first updates, which know nothing of the clock's
# frequency yet, the root dispersion (the error bound the clients get)
# falls below 10 ms
since() { echo $(($(cut -d. -f1 /proc/uptime) - $1)); }
tracking() {
	t=$(chronyc -c tracking 2>/dev/null)
	case $t in 50505300,PPS,*,Normal) echo "$t" | awk -F, -v d="$1" '$12 < d { ok = 1 } END { exit !ok }' ;;
	*) return 1 ;;
	esac
}
while [ "$(since "$up")" -lt 150 ] && ! tracking 1e9; do sleep 1; done
say synced "$(since "$up") $t"
while [ "$(since "$up")" -lt 200 ] && ! tracking 0.01; do sleep 2; done
say settled "$(since "$up") $t"
say sources "$(chronyc -c sources | tr '\n' ' ')"
say status_files "$(cat /var/volatile/rundata/coords.dat) alt=$(cat /var/volatile/rundata/altitude.dat) sats=$(cat /var/volatile/rundata/numsats.dat)"
host ntp
host locator
log synced

# GPS lost: no fix and no pulses. chronyd goes on serving from its own
# clock, the error bound (root dispersion) growing with the time since the
# last update; the PPS source drops out of the selection once eight of its
# 16-second polls in a row had no pulse (some 130 s).
gps fix 0
echo 0 >$VB/pulses_on
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
say chronyd_log "$(tail -n 5 /tmp/chronyd.log | tr '\n' '|')"
killall chronyd nmeafeed locator
say tainted "$(cat /proc/sys/kernel/tainted)"
say end
