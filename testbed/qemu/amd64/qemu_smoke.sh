#!/usr/bin/env bash
# Loads kx-pps.ko into a real kernel: boots a Debian 12 amd64 kernel (the
# image unpacked by scripts/kernel-headers, the same ABI as the header tree
# the module was built against: 6.1 or the 6.12 series) under qemu with a small
# initramfs (busybox, qemu_init.sh, qemu_devcheck, both modules and the
# kernel's I2C modules), then checks the serial console: load without and
# with I2C adapter 1, the kernel messages and their order, /sys/pps_filter,
# /dev/kx_pps, a GPS receiver streaming NMEA into the serial driver (a
# PRP0001 device of an ACPI table, qemu_gps.asl, on the guest's second
# UART, fed by qemu_gps_feed.py), unload, three more load/unload rounds,
# and a clean kernel log.
#
#   qemu_smoke.sh TREE KBUILD_OUT WORKDIR      TREE: 6.1-amd64 | 6.12-amd64
#
# KBUILD_OUT: kbuild.sh's output for that tree (kx-pps.ko and
# phystub/kxpps-phystub.ko). The guest has 512 MiB: the i.MX93 register
# blocks the module maps (0x424F0000 and up) lie above its RAM, where
# nothing answers.
set -euo pipefail

tree=$1
kbuild=$2
work=$3
here=$(cd "$(dirname "$0")" && pwd)
env="$here/../../../build-kheaders/trees.env"
start=$(date +%s)

fail() { echo "qemu_smoke: $*" >&2; exit 1; }

[ -r "$env" ] || fail "$env missing: run scripts/kernel-headers"
# shellcheck disable=SC1090
. "$env"
case $tree in
6.1-amd64) kimage=${KIMAGE_6_1_AMD64:-} kmods=${KMODULES_6_1_AMD64:-} ;;
6.12-amd64) kimage=${KIMAGE_6_12_AMD64:-} kmods=${KMODULES_6_12_AMD64:-} ;;
*) fail "unknown tree $tree" ;;
esac
[ -n "$kimage" ] && [ -f "$kimage" ] || fail "no unpacked $tree kernel image: run scripts/kernel-headers"
[ -d "$kmods" ] || fail "no unpacked $tree kernel modules: run scripts/kernel-headers"
for tool in qemu-system-x86_64 cpio gcc iasl python3; do
	command -v "$tool" >/dev/null || fail "$tool missing: run scripts/setup"
done
busybox=/bin/busybox
[ -x "$busybox" ] || fail "$busybox missing: run scripts/setup (busybox-static)"
# a dynamically linked busybox cannot run in the bare initramfs
if readelf -l "$busybox" | grep -q 'INTERP'; then
	fail "$busybox is dynamically linked: install busybox-static"
fi
for ko in "$kbuild/kx-pps.ko" "$kbuild/phystub/kxpps-phystub.ko"; do
	[ -f "$ko" ] || fail "$ko missing: the kbuild test builds it"
done
abi=$(basename "$kmods")
vermagic=$(modinfo -F vermagic "$kbuild/kx-pps.ko")
[ "${vermagic%% *}" = "$abi" ] || fail "kx-pps.ko is for ${vermagic%% *}, the image is $abi"

# ---- the initramfs -------------------------------------------------------
root="$work/root"
rm -rf "$root"
mkdir -p "$work"
mkdir -p "$root"/{bin,proc,sys,dev,tmp,lib/modules/kx,lib/modules/kernel}
cp "$busybox" "$root/bin/busybox"
install -m 0755 "$here/qemu_init.sh" "$root/init"
gcc -static -O2 -Wall -Wextra -Werror -o "$root/bin/qemu_devcheck" "$here/qemu_devcheck.c"
cp "$kbuild/kx-pps.ko" "$kbuild/phystub/kxpps-phystub.ko" "$root/lib/modules/kx/"
# the kernel's own modules, loaded by insmod in dependency order
for m in drivers/i2c/i2c-smbus drivers/i2c/busses/i2c-i801 drivers/i2c/i2c-stub; do
	src="$kmods/kernel/$m.ko"
	dst="$root/lib/modules/kernel/$(basename "$m").ko"
	if [ -f "$src" ]; then
		cp "$src" "$dst"
	elif [ -f "$src.xz" ]; then
		xz -dc "$src.xz" >"$dst"
	else
		fail "$src missing from the kernel image"
	fi
done
(cd "$root" && find . | cpio -o -H newc --quiet) >"$work/initrd.cpio"
# the GPS receiver and the timer device, described to the PC's ACPI
iasl -p "$work/qemu_gps" "$here/qemu_gps.asl" >"$work/iasl.log" 2>&1 ||
	{ cat "$work/iasl.log"; fail "iasl failed"; }

# ---- boot ----------------------------------------------------------------
console="$work/console.log"
# slub_debug: red zones, poisoning and sanity checks on every slab object,
# so a use after free or an overrun by the module is reported as a BUG;
# KFENCE (6.12) guards a sampled allocation every 5 ms as well.
# -M q35: its ICH9 SMBus (i2c-i801) becomes adapter 0, so i2c-stub is 1
# ttyS1 (COM2) is a Unix socket, served by qemu, fed by qemu_gps_feed.py
sockdir=$(mktemp -d /tmp/kxq-gps.XXXXXX)
trap 'rm -rf "$sockdir"' EXIT
rm -f "$console"
"$here/qemu_gps_feed.py" "$sockdir/gps" "$console" 100 "$work/gps_rx.log" >"$work/feed.log" 2>&1 &
feeder=$!
rc=0
timeout 100 qemu-system-x86_64 -M q35 -accel tcg -m 512M -smp 1 \
	-display none -monitor none -no-reboot -nic none \
	-serial stdio \
	-chardev "socket,id=gps,path=$sockdir/gps,server=on,wait=off" -serial chardev:gps \
	-acpitable "file=$work/qemu_gps.aml" \
	-kernel "$kimage" -initrd "$work/initrd.cpio" \
	-append "console=ttyS0 panic=-1 loglevel=1 printk.time=0 slub_debug=FZP kfence.sample_interval=5 rdinit=/init" \
	</dev/null >"$console" 2>&1 || rc=$?
wait "$feeder" || true
cat "$work/feed.log"
# printable text only: the line-noise test puts raw bytes into the kernel log
tr -d '\r' <"$console" | LC_ALL=C tr -c '[:print:]\t\n' '?' >"$console.txt"
booted=$(date +%s)
echo "qemu_smoke: guest ran $((booted - start)) s (qemu exit $rc), console in $console.txt"

# ---- checks --------------------------------------------------------------
out="$console.txt"
errors=0
bad() { echo "qemu_smoke: FAIL: $*" >&2; errors=$((errors + 1)); }
kxq() { sed -n "s/^KXQ $1 //p" "$out" | head -n1; }
phase_log() { sed -n "s/^KXQLOG $1 //p" "$out"; }

# value of "KXQ key" must match the extended regex
expect() {
	local v
	v=$(kxq "$1")
	[[ $v =~ $2 ]] || bad "$1: got '$v', want /$2/"
}

# the phase's kernel log holds the messages in this order (others between)
in_order() {
	local phase=$1 line=0 msg n
	shift
	for msg in "$@"; do
		n=$(phase_log "$phase" | grep -nF -- "$msg" | cut -d: -f1 | head -n1 || true)
		if [ -z "$n" ]; then
			bad "$phase: no \"$msg\" in the kernel log"
		elif [ "$n" -le "$line" ]; then
			bad "$phase: \"$msg\" out of order"
		else
			line=$n
		fi
	done
}

absent() {
	local phase=$1 msg=$2
	if phase_log "$phase" | grep -qF -- "$msg"; then
		bad "$phase: unexpected \"$msg\" in the kernel log"
	fi
}

state_is() {
	local phase=$1 want=$2 key
	shift 2
	for key in "$@"; do
		expect "$phase $key" "^$want\$"
	done
}

if ! grep -q '^KXQ end$' "$out"; then
	tail -n 60 "$out" >&2
	fail "the guest did not reach the end of its script"
fi

expect phystub_insmod '^0 no-message$'

# without adapter 1: EIO after the three messages, nothing left behind
# (busybox's insmod tries finit_module, then init_module: the messages twice)
expect noadapter_insmod '^[1-9][0-9]* .*Input/output error'
in_order noadapter "PPS says hello!" "ppsdac: unable to get i2c adapter 1" \
	"unable to allocate dac client" "unable to allocate i2c clients"
absent noadapter "Initial write to DAC"
state_is noadapter 0 filter_dir platform_driver serdev_driver dev_node class module

# the adapters: the stub must be number 1
expect i801_insmod '^0 no-message / 0 no-message$'
expect stub_insmod '^0 no-message$'
grep -q '^KXQ adapter i2c-1 SMBus stub driver$' "$out" ||
	bad "i2c-1 is not the SMBus stub: $(sed -n 's/^KXQ adapter //p' "$out" | tr '\n' ';')"

# the load; the timer device (no MACs) is probed and deferred, the GPS
# receiver bound
expect load_insmod '^0 no-message$'
in_order load "pps:  Starting pps_probe" "pps: pps-led-gpios not present in DT" \
	"PPS says hello!" "ppsdac: got i2c adapter 1!" "Initial write to DAC" \
	"tpm4 clk root is:" "Device tree node pwm4 is not defined in DTS" "Failed to map IRQ" \
	"pps-uart: running @ 9600 baud (flow=0)"
absent load "registered LinuxPPS source"
expect "loaded deferred" 'PRP0001'
absent load "unable to get i2c adapter"
absent load "unable to allocate"
absent load "unable to map"
state_is loaded 1 filter_dir platform_driver serdev_driver dev_node class module
expect "loaded dac_client" '^ti-dac8571-pps$'

# attributes and device, from the guest's point of view
if grep -q '^KXQ FAIL' "$out"; then
	grep '^KXQ FAIL' "$out" | sed 's/^/qemu_smoke: guest: /' >&2
	bad "guest checks failed"
fi
expect "devcheck full failures" '^0$'
expect devcheck_rc '^0$'
expect params '^last_count loop_mode 0 ?$'
for c in filter_dir nineteen_attributes attribute_modes_0660 \
	read_k1 read_k2 read_pause read_gpsfix read_tai_offset read_gpsmode \
	read_timeknown read_holdover_time read_holdover_setting read_prv_integ_fp \
	read_gps_time_set read_freqcorr read_freqcorrdelta_format write_prv_integ_fp \
	read_phy_delta1_enodev read_phy_delta2_enodev read_manualtime_eio \
	read_ppsled_eio read_deleth0_eio read_deleth1_eio write_gpsfix_eio \
	write_k1_garbage_consumed write_k1 write_gpsmode write_tai_offset write_pause \
	write_ppsled_unprobed write_manualtime_unprobed write_deleth0 \
	dev_node dev_open dev_second_open_ebusy dev_nonblock_empty_eagain \
	dev_write_hello dev_read_hello_no_lf dev_read_count1_a dev_read_count0 \
	dev_read_count1_b dev_write_cut_128 dev_read_cut_256 dev_read_rest \
	dev_full_enospc dev_drain_all dev_ioctl_6b00 dev_ioctl_6b01_enotty \
	dev_blocking_read_sleeps dev_blocking_read_woken dev_blocking_read_eintr \
	dev_write_efault dev_read_efault dev_read_efault_consumed dev_reopen_after_close; do
	grep -q "^KXQ ok $c\$" "$out" || bad "guest check $c did not pass"
done
in_order devcheck "pps chardev: FIFO empty, O_NONBLOCK"
in_order devcheck "g_pps/cap0/cap1 pointer error!!!"
in_order devcheck "pps chardev: wake with ret=-512" "pps chardev: copy_from_user failed" \
	"pps chardev: copy_to_user failed"

# the GPS stream: a fix after the qualifying seconds, whole sentences in
# /dev/kx_pps, none from an unbound driver, again after binding it anew
expect gps_bound '^1$'
expect gps_fix '^1$'
expect gps_holdover_time '^0$'
expect gps_nmea_rc '^0$'
expect gps_unbound '^0$'
expect gps_unbound_queue '^0$'
expect gps_rebound '^1$'
expect gps_rebound_nmea_rc '^0$'
expect gps_stress_reader_rc '^0$'
expect gps_stress_binds '^10 1$'
v=$(kxq gps_noise_queue)
[[ $v =~ ^[0-9]+$ ]] && [ "$v" -gt 0 ] && [ "$v" -le 4096 ] || bad "queue after the noise: '$v' bytes"
expect gps_after_noise_nmea_rc '^0$'
# fix cleared, and not before the 5 s (less the 0.1 s between two of the
# feeder's seconds) after the last ZDA
expect gps_silent_fix '^0 (49[0-9]|[5-9][0-9][0-9]|[1-9][0-9][0-9][0-9])$'
# what reached the receiver: the speed switch at both binds and from the
# monitor; mode 0 (the attribute test's last write) with the first lines,
# then mode 3, each twice and followed by the timing command twice; no
# command for mode 7
rx="$work/gps_rx.log"
count() { grep -aFc -- "$1" "$rx" || true; }
[ "$(count '$PMTK353,1,0,0,0,0*2A')" -eq 2 ] || bad "receiver got mode 0 $(count '$PMTK353,1,0,0,0,0*2A') times"
[ "$(count '$PMTK353,1,1,1,0,0*2A')" -eq 2 ] || bad "receiver got mode 3 $(count '$PMTK353,1,1,1,0,0*2A') times"
[ "$(count '$PMTK353')" -eq 4 ] || bad "receiver got $(count '$PMTK353') mode commands, want 4"
[ "$(count '$PMTK256,1*2E')" -eq 4 ] || bad "receiver got $(count '$PMTK256,1*2E') timing commands, want 4"
[ "$(count '$PMTK251,115200*1F')" -ge 6 ] || bad "receiver got $(count '$PMTK251,115200*1F') speed switches, want 6 or more"
echo "qemu_smoke: receiver got: $(tr -d '\r' <"$rx" | sort | uniq -c | tr -s ' \n' ' ')"
[ "$(grep -c '^KXQ ok nmea_whole_sentences$' "$out")" -eq 3 ] ||
	bad "the GPS lines were not read whole three times"
echo "qemu_smoke: gps: $(sed -n 's/^KXQ nmea lines //p' "$out" | tr '\n' ';')" \
	"missed-GGA reports: $(phase_log gps | grep -c 'missed GGA' || true)"

# the unload (while the GPS stream runs): refused while /dev/kx_pps is open (busybox asks with
# O_NONBLOCK: EAGAIN), then done
expect busy_rmmod '^[1-9][0-9]* .*(Resource temporarily unavailable|in use|busy)'
expect unload_rmmod '^0 no-message$'
in_order unload "pps chardev: Removed" "PPS driver exit!" "All sysfs_remove_file call done" \
	"kobject_put done" "Remove filter done"
state_is unloaded 0 filter_dir platform_driver serdev_driver dev_node class module
expect "unloaded dac_client" '^none$'

for i in 1 2 3; do
	expect "cycle$i insmod" '^0 no-message$'
	expect "cycle$i devcheck" '^0$'
	expect "cycle$i rmmod" '^0 no-message$'
	expect "cycle$i left" '^000$'
	in_order "cycle$i" "PPS says hello!" "Initial write to DAC" "PPS driver exit!" \
		"Remove filter done"
done
expect phystub_rmmod '^0 no-message$'
[[ " $(kxq modules_left) " =~ \ (kx_pps|kxpps_phystub)\  ]] && bad "modules left: $(kxq modules_left)"

# no warning, oops or leak report from any phase after boot; taint W (512)
# or D (128) would mean one was printed anyway
# (the missed-GGA reports quote received text, line noise included)
if sed -n 's/^KXQLOG \([a-z0-9]*\) /\1: /p' "$out" | grep -v -e '^boot: ' -e '^[a-z0-9]*: missed GGA, ' |
	grep -E 'WARNING|BUG|Oops|Call Trace|[Rr]efcount|[Ll]eak|general protection|UBSAN'; then
	bad "the kernel log reports a fault"
fi
tainted=$(kxq tainted)
[[ $tainted =~ ^[0-9]+$ ]] && (( (tainted & (512 | 128)) == 0 )) ||
	bad "kernel taint $tainted (W or D set)"

# what the DAC's first write met on the SMBus-only stub adapter
sed -n 's/^KXQLOG load \(ppsdac: .*\)/qemu_smoke: load: \1/p' "$out"
echo "qemu_smoke: $(grep -c '^KXQ ok' "$out") guest checks passed, $errors failures," \
	"$(($(date +%s) - start)) s in all"
[ $errors -eq 0 ]
