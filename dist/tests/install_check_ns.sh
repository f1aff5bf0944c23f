#!/usr/bin/env bash
# The parts of install_check.sh that need the installed files at their real
# paths; run by it in private namespaces (never directly).
#
#   install_check_ns.sh services ROOT   units verified, init scripts at work
#   install_check_ns.sh udev ROOT       the udev rule on a made-up sysfs
set -uo pipefail

mode=$1
root=$2
fail=0
bad() { echo "install_check: $*" >&2; fail=1; }

mount --make-rprivate /

# /dev of our own with the few nodes programs expect
private_dev() {
	mkdir -p /run/hostdev
	mount --rbind /dev /run/hostdev
	mount -t tmpfs tmpfs /dev
	for n in null zero urandom; do
		touch "/dev/$n"
		mount --bind "/run/hostdev/$n" "/dev/$n"
	done
	umount -l /run/hostdev
}

# lays ROOT's copy of DIR over DIR (at its nearest existing ancestor)
overlay() {
	local dir=$1
	while [ ! -d "$dir" ]; do dir=$(dirname "$dir"); done
	mount -t overlay overlay -o "lowerdir=$root$dir:$dir" "$dir"
}

# one reply from the locator, or nothing after 10 s
locator_reply() {
	/usr/bin/python3 - <<'PY'
import socket, sys, time
s = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
s.settimeout(0.5)
for _ in range(20):
    s.sendto(b"\xa1", ("127.0.0.1", 7372))
    try:
        data = s.recv(512)
    except OSError:
        time.sleep(0.2)
        continue
    sys.stdout.write(f"{len(data)} {data[0]}\n")
    break
PY
}

# the program's arguments in its unit's ExecStart, one per line
unit_args() {
	local line
	line=$(sed -n 's/^ExecStart=//p' "$KX_SYSTEMD_UNITDIR/$1.service")
	eval "set -- $line"
	printf '%s\n' "$@"
}

gone() {	# process ended (a zombie counts as ended)
	local n=0
	while [ $n -lt 100 ]; do
		[ -e "/proc/$1" ] || return 0
		[ "$(awk '{ print $3 }' "/proc/$1/stat" 2>/dev/null)" = Z ] && return 0
		sleep 0.1
		n=$((n + 1))
	done
	return 1
}

appears() {	# the file exists, within 10 s
	local n=0
	while [ ! -e "$1" ]; do
		[ $n -lt 100 ] || return 1
		sleep 0.1
		n=$((n + 1))
	done
}

# start, status, restart, stop of each init script, run by the shell $1
init_scripts() {
	local sh=$1 p s pid want
	for p in nmeafeed panelmon locator ntpgate kxmetrics; do
		s=$KX_SYSV_INITDIR/$p
		$sh "$s" start >/dev/null || { bad "$p ($sh): start failed"; continue; }
		$sh "$s" status >/dev/null || bad "$p ($sh): status after start is $?"
		pid=$(cat "/var/run/$p.pid")
		[ "$(readlink "/proc/$pid/exe")" = "$KX_SBINDIR/$p" ] || bad "$p ($sh): pid $pid is not $p"
		# started as its systemd unit starts it (kxmetrics: repeating by
		# itself every 10 s, where the unit's timer repeats it)
		want=$(unit_args $p)
		[ $p != kxmetrics ] || want=$(printf '%s\n-i\n10' "$want")
		[ "$(tr '\0' '\n' <"/proc/$pid/cmdline")" = "$want" ] ||
			bad "$p ($sh): arguments differ from the unit's: $(tr '\0' ' ' <"/proc/$pid/cmdline")"
		$sh "$s" start >/dev/null || bad "$p ($sh): second start failed"
		[ "$(pgrep -c -x "$p")" = 1 ] || bad "$p ($sh): a second start made a second process"
		if [ $p = locator ]; then
			[ "$(locator_reply)" = "80 6" ] || bad "locator ($sh): no 80-byte reply"
		fi
		if [ $p = kxmetrics ]; then
			appears /var/lib/prometheus/node-exporter/kx.prom ||
				bad "kxmetrics ($sh): no textfile after start"
			rm -f /var/lib/prometheus/node-exporter/kx.prom
		fi
		$sh "$s" restart >/dev/null || bad "$p ($sh): restart failed"
		gone "$pid" || bad "$p ($sh): restart left the old process"
		pid=$(cat "/var/run/$p.pid")
		if [ $p = locator ]; then
			[ "$(locator_reply)" = "80 6" ] || bad "locator ($sh): no reply after restart"
		fi
		$sh "$s" stop >/dev/null || bad "$p ($sh): stop failed"
		gone "$pid" || bad "$p ($sh): still running after stop"
		$sh "$s" status >/dev/null
		[ $? -eq 3 ] || bad "$p ($sh): status after stop is not 3"
		$sh "$s" stop >/dev/null || bad "$p ($sh): stop when stopped failed"
	done
}

services() {
	mount -t tmpfs tmpfs /run
	mount -t tmpfs tmpfs /var
	ln -s /run /var/run
	private_dev
	ip link set lo up
	for d in "$KX_SBINDIR" "$KX_SYSTEMD_UNITDIR" "$KX_SYSV_INITDIR" "$KX_LIBEXECDIR" \
		"$KX_CHRONY_CONFDIR"; do
		overlay "$d"
	done

	local units="nmeafeed.service panelmon.service locator.service ntpgate.service kxmetrics.service kxmetrics.timer" out
	units="$units kx-ptp4l-eth0.service kx-ptp4l-eth1.service"
	[ -f "/lib/systemd/system/$KX_CHRONY_SERVICE" ] && units="$units $KX_CHRONY_SERVICE"
	# shellcheck disable=SC2086
	out=$(cd "$KX_SYSTEMD_UNITDIR" && systemd-analyze verify $units 2>&1) ||
		bad "systemd-analyze verify failed"
	[ -z "$out" ] || bad "systemd-analyze verify: $out"

	# node-exporter's textfile directory, which kxmetrics writes at once
	mkdir -p /var/lib/prometheus/node-exporter
	init_scripts "$(command -v sh)"
	# as on an image with busybox's sh and start-stop-daemon
	mkdir -p /run/busybox
	ln -s "$(command -v busybox)" /run/busybox/start-stop-daemon
	PATH=/run/busybox:$PATH init_scripts "busybox sh"
	[ -d /var/volatile/rundata ] || bad "init scripts did not make /var/volatile/rundata"
	nts_init_script "$(command -v sh)"
	PATH=/run/busybox:$PATH nts_init_script "busybox sh"
	grandmasters
}

# Each installed ptp4l configuration, both profiles, run by ptp4l as its unit
# runs it but with software time stamps (-S: a veth pair has no PHY clock),
# on a veth end named as the port: ptp4l takes every option, opens its
# management socket where ntpgate looks and starts as a GNSS grandmaster
# that announces nothing traceable until ntpgate says otherwise.
grandmasters() {
	local port conf pid out want
	overlay "$KX_PTP_CONFDIR"
	for port in eth0 eth1; do
		ip link add "$port" type veth peer name "peer-$port"
		ip link set "$port" up
		ip link set "peer-$port" up
		for conf in "$KX_PTP_CONFDIR/ptp4l-$port.conf" "$KX_PTP_CONFDIR/g8275.1/ptp4l-$port.conf"; do
			[ -f "$conf" ] || { bad "no $conf"; continue; }
			want=$(awk '$1 == "domainNumber" { print $2 }' "$conf")
			"$KX_PTP4L" -S -f "$conf" >/run/ptp4l.log 2>&1 &
			pid=$!
			appears "/run/ptp4l-$port" || bad "$conf: no /run/ptp4l-$port: $(cat /run/ptp4l.log)"
			out=$(pmc -u -b 0 -d "$want" -s "/run/ptp4l-$port" 'GET GRANDMASTER_SETTINGS_NP' 'GET DOMAIN')
			grep -Eq 'clockClass +248$' <<<"$out" || bad "$conf: not class 248 at start: $out"
			grep -Eq 'timeSource +0x20$' <<<"$out" || bad "$conf: time source is not GNSS: $out"
			grep -Eq 'domainNumber +'"$want"'$' <<<"$out" || bad "$conf: not in domain $want: $out"
			kill "$pid"
			gone "$pid" || bad "$conf: ptp4l did not end"
			wait "$pid" 2>/dev/null
		done
		ip link del "$port"
	done
}

# The NTS key and certificate made by the init script (as root) when
# absent, for chronyd's group, and left alone when present; nothing made
# while the drop-in has NTS turned off.
nts_init_script() {
	local sh=$1 s=$KX_SYSV_INITDIR/kx-nts-cert key=$KX_CHRONY_STATEDIR/kx-nts.key
	local cert=$KX_CHRONY_STATEDIR/kx-nts.crt dropin=$KX_CHRONY_CONFDIR/kx-timeserver.conf before
	rm -rf "$KX_CHRONY_STATEDIR"
	mkdir -p "$KX_CHRONY_STATEDIR"
	chgrp 65534 "$KX_CHRONY_STATEDIR"
	sed 's/^ntsserverkey/#&/' "$dropin" >/run/kx-nts-off.conf
	KX_NTS_DROPIN=/run/kx-nts-off.conf $sh "$s" start >/dev/null || bad "kx-nts-cert ($sh): start with NTS off failed"
	[ -z "$(ls -A "$KX_CHRONY_STATEDIR")" ] || bad "kx-nts-cert ($sh): made files with NTS off"
	$sh "$s" status >/dev/null
	[ $? -eq 3 ] || bad "kx-nts-cert ($sh): status without the pair is not 3"
	$sh "$s" start >/dev/null || { bad "kx-nts-cert ($sh): start failed"; return; }
	[ "$(stat -c '%a %g' "$key")" = "640 65534" ] ||
		bad "kx-nts-cert ($sh): key made as $(stat -c '%a %g' "$key")"
	openssl x509 -in "$cert" -noout -checkend 0 >/dev/null || bad "kx-nts-cert ($sh): no valid certificate"
	$sh "$s" status >/dev/null || bad "kx-nts-cert ($sh): status with the pair is $?"
	before=$(md5sum "$key" "$cert")
	$sh "$s" restart >/dev/null || bad "kx-nts-cert ($sh): second start failed"
	[ "$(md5sum "$key" "$cert")" = "$before" ] || bad "kx-nts-cert ($sh): a second start made a new pair"
	[ -z "$(find "$KX_CHRONY_STATEDIR" -name '.kx-nts-cert.*')" ] || bad "kx-nts-cert ($sh): left its scratch files"
}

# a pps class device with its name attribute, or the NMEA character device
fake_device() {	# CLASS NAME MAJOR:MINOR [PPS_NAME]
	local d=/sys/devices/virtual/$1/$2
	mkdir -p "$d" "/sys/class/$1"
	printf 'MAJOR=%s\nMINOR=%s\nDEVNAME=%s\n' "${3%:*}" "${3#*:}" "$2" >"$d/uevent"
	echo "$3" >"$d/dev"
	[ $# -lt 4 ] || echo "$4" >"$d/name"
	ln -s "../../../class/$1" "$d/subsystem"
	ln -s "../../devices/virtual/$1/$2" "/sys/class/$1/$2"
}

udev() {
	mount -t tmpfs tmpfs /run
	private_dev
	mount -t tmpfs tmpfs /sys
	mkdir -p /run/udev/rules.d
	cp "$root$KX_UDEV_RULESDIR/60-kx-pps.rules" /run/udev/rules.d/
	fake_device pps pps0 250:0 kx-pps
	fake_device pps pps1 250:1 pps-gpio
	fake_device pps_chardev_class kx_pps 240:0
	export SYSTEMD_DEVICE_VERIFY_SYSFS=0	# this /sys is a tmpfs

	local out
	out=$(udevadm test --action=add /sys/class/pps/pps0 2>&1)
	grep -qx 'DEVLINKS=.*/dev/pps-kx\( .*\)\?' <<<"$out" || bad "udev: kx-pps source gets no /dev/pps-kx"
	grep -qx 'TAGS=.*:systemd:.*' <<<"$out" || bad "udev: kx-pps source not tagged for systemd"
	out=$(udevadm test --action=add /sys/class/pps/pps1 2>&1)
	if grep -q '^DEVLINKS=.*/dev/pps-kx' <<<"$out"; then bad "udev: another pps source got /dev/pps-kx"; fi
	out=$(udevadm test --action=add /sys/class/pps_chardev_class/kx_pps 2>&1)
	grep -q '60-kx-pps.rules:[0-9]* MODE 0600' <<<"$out" || bad "udev: /dev/kx_pps is not made 0600"
	chrony_follows_the_pulse_source
}

# chronyd's refclocks as the installed configuration gives them: each
# "refclock" line as its driver, "-noselect" when it has that option, and
# "lock=REFID" of a PPS line; then the PPS device and SHM 0's refid
refclocks() {
	local conf=/run/kx-chrony.conf parsed
	echo "confdir $KX_CHRONY_CONFDIR" >"$conf"
	parsed=$(chronyd -p -f "$conf" 2>&1) || { echo "chronyd -p failed: $parsed"; return; }
	awk '$1 == "refclock" {
		printf "%s%s", $2, (/ noselect/ ? "-noselect" : "")
		for (i = 4; i < NF; i++) if ($i == "lock") printf " lock=%s", $(i + 1)
		if ($2 == "PPS") printf " dev=%s", $3
		if ($2 == "SHM") for (i = 4; i < NF; i++) if ($i == "refid") printf " %s", $(i + 1)
		printf "; " }' <<<"$parsed"
}

# NTS and rate limiting as chronyd reads the installed drop-in
nts_directives() {
	local conf=/run/kx-chrony.conf parsed d
	echo "confdir $KX_CHRONY_CONFDIR" >"$conf"
	parsed=$(chronyd -p -f "$conf" 2>&1) || { bad "chronyd -p failed: $parsed"; return; }
	for d in "ntsserverkey $KX_CHRONY_STATEDIR/kx-nts.key" \
		 "ntsservercert $KX_CHRONY_STATEDIR/kx-nts.crt" "ntsdumpdir $KX_CHRONY_STATEDIR" \
		 "ntsport 4460" "ratelimit interval" "ntsratelimit interval"; do
		grep -q "^$d" <<<"$parsed" || bad "chrony: no '$d' in the drop-in"
	done
}

# The udev rule runs kx-pps-chrony when the kx-pps source comes and when a
# pulse source goes; chronyd then reads SHM 0 alone (selectable) without the
# source, SHM 0 locking the pulse of /dev/pps-kx with it.
chrony_follows_the_pulse_source() {
	local helper out want_pps
	# no init script and no systemd here: the helper restarts nothing
	mount -t tmpfs tmpfs /etc/init.d
	overlay "$KX_CHRONY_CONFDIR"
	overlay "$KX_CHRONY_REFCLOCKDIR"
	helper=$(sed -n 's/^SUBSYSTEM=="pps", ACTION=="add".*RUN+="\([^"]*\)".*/\1/p' \
		"$root$KX_UDEV_RULESDIR/60-kx-pps.rules")
	[ -x "$root$helper" ] || { bad "udev: the rule runs '$helper', not installed"; return; }
	out=$(udevadm test --action=add /sys/class/pps/pps0 2>&1)
	grep -q "run: '$helper'" <<<"$out" || bad "udev: adding the kx-pps source does not run $helper"
	out=$(udevadm test --action=add /sys/class/pps/pps1 2>&1)
	if grep -q "run: '$helper'" <<<"$out"; then bad "udev: another pps source runs $helper"; fi

	out=$(refclocks)
	[ "$out" = "SHM GPS; " ] || bad "chrony without the pulse source: '$out'"
	nts_directives
	ACTION=add "$root$helper"
	out=$(refclocks)
	[ "$out" = "SHM GPS; " ] || bad "chrony after an add without /dev/pps-kx: '$out'"
	touch /dev/pps-kx
	ACTION=add "$root$helper"
	want_pps="SHM-noselect GPS; PPS lock=GPS dev=/dev/pps-kx; "
	out=$(refclocks)
	[ "$out" = "$want_pps" ] || bad "chrony with the pulse source: '$out', want '$want_pps'"
	ACTION=remove "$root$helper"
	out=$(refclocks)
	[ "$out" = "$want_pps" ] || bad "chrony after another source's removal: '$out'"
	rm /dev/pps-kx
	ACTION=remove "$root$helper"
	out=$(refclocks)
	[ "$out" = "SHM GPS; " ] || bad "chrony after the pulse source went: '$out'"
}

case $mode in
services) services ;;
udev) udev ;;
*) echo "install_check_ns.sh: unknown mode $mode" >&2; exit 2 ;;
esac
exit $fail
