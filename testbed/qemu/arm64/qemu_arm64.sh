#!/usr/bin/env bash
# Runs kx-pps on its own architecture: Debian's arm64 kernel (the image of
# the arm64 header tree's version) under qemu-system-aarch64 -M virt,
# booted by U-Boot with the board's device tree (kx-qemu-virt.dts),
# the timing hardware model kx-timinghw.ko closing the loop (TPM4, the pulse interrupt
# through the GIC, the VCXO model, the DAC on I2C adapter 1, the PHYs) and
# the simulated board's GPS receiver on the PL011. Then checks the console.
#
#   qemu_arm64.sh MODE KBUILD_OUT WORKDIR
#     MODE board   load, probe, pulses, GPS, the closed loop, holdover,
#                  rebinding and unloading (ctest kernel.qemu_arm64.board)
#     MODE rounds  100 load/unload rounds (KX_QEMU_ROUNDS) and 10 unbind/bind
#                  rounds under pulses and sentences
#     MODE bench   loop convergence records only (testbed/bench/loop_qemu_arm64.py)
#     MODE ntp     the time service: nmeafeed, locator and Debian's arm64
#                  chronyd in the guest, NTP and locator queries from the host
#                  (ctest kernel.qemu_arm64.ntp)
#   qemu_arm64.sh --dumpdtb FILE
#     the machine's own device tree, with the same qemu options as the boot
#
# KBUILD_OUT: kbuild.sh's output for 6.12-arm64 (kx-pps.ko, the PHY stub and
# Module.symvers). Environment: KX_TIMINGHW_ARGS (module parameters of the
# timing hardware model), KX_PPS_ARGS (module parameters of kx-pps, e.g.
# loop_mode=1), KX_BENCH_PULSES (bench mode), KX_LOOP_PULSES (board mode),
# KX_QEMU_CPUS (virtual CPUs, default 1; more run as threads of their own,
# so the module's interrupt, work and threads meet on real SMP).
set -euo pipefail

here=$(cd "$(dirname "$0")" && pwd)
top=$(cd "$here/../../.." && pwd)
src=$top/kernel
timinghw_src=$here/../timinghw
osc_src=$top/testbed/osc
env="$top/build-kheaders/trees.env"
start=$(date +%s)
uboot_bin=/usr/lib/u-boot/qemu_arm64/u-boot.bin

fail() { echo "qemu_arm64: $*" >&2; exit 1; }

# Image, device tree and initramfs are placed by qemu's loader where the
# kernel is not in the way of the i.MX93 register range (0x42000000 up).
IMAGE_ADDR=0x50000000
DTB_ADDR=0x5c000000
INITRD_ADDR=0x5d000000

# the machine; the same for the tree dump and the boot
cpus=${KX_QEMU_CPUS:-1}
case $cpus in
1) accel=tcg ;;
[2-8]) accel=tcg,thread=multi ;;
*) fail "KX_QEMU_CPUS=$cpus: 1 to 8" ;;
esac
machine=(qemu-system-aarch64 -M "virt,acpi=off" -cpu cortex-a57 -m 1024 -smp "$cpus" -accel "$accel"
	-display none -monitor none -no-reboot -bios "$uboot_bin"
	-device virtio-serial-pci)

if [ "${1:-}" = --dumpdtb ]; then
	"${machine[@]}" -nic none -machine dumpdtb="$2" -device virtconsole,chardev=con -chardev null,id=con
	exit 0
fi

mode=$1
kbuild=$2
work=$3
[ -r "$env" ] || fail "$env missing: run scripts/kernel-headers"
# shellcheck disable=SC1090
. "$env"
kimage=${KIMAGE_6_12_ARM64:-} kmods=${KMODULES_6_12_ARM64:-} busybox=${BUSYBOX_ARM64:-}
# where scripts/kernel-headers unpacks them, should trees.env predate them
abi=$(basename "${KDIR_6_12_ARM64:-}" | sed -n 's/^linux-headers-\(.*\)$/\1/p')
if [ -z "$kimage" ] && [ -n "$abi" ]; then
	kimage=$top/build-kheaders/linux-image-$abi/tree/boot/vmlinuz-$abi
	kmods=$top/build-kheaders/linux-image-$abi/tree/lib/modules/$abi
	[ -f "$kimage.Image" ] && kimage=$kimage.Image
fi
[ -n "$busybox" ] || busybox=$top/build-kheaders/busybox-arm64/tree/bin/busybox
[ -n "$kimage" ] && [ -f "$kimage" ] || fail "no arm64 kernel image: run scripts/kernel-headers"
[ -d "$kmods" ] || fail "no arm64 kernel modules: run scripts/kernel-headers"
[ -n "$busybox" ] && [ -x "$busybox" ] || fail "no arm64 busybox: run scripts/kernel-headers"
for tool in qemu-system-aarch64 dtc cpio aarch64-linux-gnu-gcc python3; do
	command -v "$tool" >/dev/null || fail "$tool missing: run scripts/setup"
done
[ -f "$uboot_bin" ] || fail "$uboot_bin missing: run scripts/setup (u-boot-qemu)"
for ko in "$kbuild/kx-pps.ko" "$kbuild/phystub/kxpps-phystub.ko" "$kbuild/Module.symvers"; do
	[ -f "$ko" ] || fail "$ko missing: the kbuild test builds it"
done
chrony=${CHRONY_ARM64:-$top/build-kheaders/chrony-arm64/tree}
if [ "$mode" = ntp ]; then
	[ -x "$chrony/usr/sbin/chronyd" ] || fail "no arm64 chronyd: run scripts/kernel-headers"
	command -v chronyd >/dev/null || fail "chronyd missing: run scripts/setup"
	# one pulse per real second: chronyd counts real seconds
	KX_TIMINGHW_ARGS=${KX_TIMINGHW_ARGS:-period_us=1000000}
	# synchronising and losing the pulse take chronyd minutes of real time
	# (about 6.5 on an idle machine); a cap, not a measure: it leaves ctest's
	# 720 s for building the guest's programs and checking the result
	KX_QEMU_LIMIT=${KX_QEMU_LIMIT:-640}
	# the integrity guard: the receiver qualifies (taken as before the
	# guard) until qemu_arm64_ntp.sh shortens the qualifying period at run
	# time for the jump; agreement after a lie 10 s (shipped: 60 s)
	KX_PPS_ARGS=${KX_PPS_ARGS:-gnss_qualify=100000 gnss_agree=10}
fi
simboard=${KX_SIMBOARD:-}
[ -n "$simboard" ] && [ -x "$simboard" ] || fail "simboard missing (KX_SIMBOARD)"

mkdir -p "$work"

# ---- the timing hardware module, against the same tree ------------------
thw="$work/kbuild/timinghw"
mkdir -p "$thw" "$work/kbuild/phystub"
find "$work/kbuild" -maxdepth 2 -type l -delete
for f in "$timinghw_src"/Kbuild "$timinghw_src"/*.c "$osc_src"/kx_osc.[ch]; do
	ln -s "$f" "$thw/$(basename "$f")"
done
ln -s "$src/phystub/kxpps_phystub.h" "$work/kbuild/phystub/"
if ! nice -n 10 make -C "$KDIR_6_12_ARM64" M="$thw" W=1 KCFLAGS=-Werror \
	KBUILD_EXTRA_SYMBOLS="$kbuild/Module.symvers" modules >"$thw/build.log" 2>&1 ||
	grep -E 'WARNING|warning:' "$thw/build.log"; then
	cat "$thw/build.log"
	fail "kx-timinghw.ko did not build cleanly"
fi

# ---- the time service's programs -----------------------------------------
# nmeafeed and locator as the board runs them (cross-built here, without the
# tests), Debian's arm64 chronyd and chronyc, the shared libraries of all
# four (the C++ and C libraries from the cross tool chain's sysroot) and
# chronyd's configuration: the appliance's drop-in as shipped
ntp_root() {
	local a64="$work/aarch64"
	cmake -S "$top" -B "$a64" -G Ninja --toolchain "$top/cmake/aarch64-linux-gnu.cmake" \
		-DCMAKE_BUILD_TYPE=RelWithDebInfo -DKX_WERROR=ON -DBUILD_TESTING=OFF \
		-DCMAKE_INSTALL_PREFIX=/usr >"$work/aarch64.log" 2>&1 &&
		nice -n 10 cmake --build "$a64" --target nmeafeed locator ntpgate >>"$work/aarch64.log" 2>&1 ||
		{ cat "$work/aarch64.log"; fail "the arm64 nmeafeed, locator and ntpgate did not build"; }
	cp "$a64/bin/nmeafeed" "$a64/bin/locator" "$a64/bin/ntpgate" "$chrony/usr/sbin/chronyd" \
		"$chrony/usr/bin/chronyc" "$root/bin/"
	mkdir -p "$root/lib/aarch64-linux-gnu" "$root/etc"
	cp -a "$chrony"/usr/lib/aarch64-linux-gnu/*.so* "$chrony"/lib/aarch64-linux-gnu/*.so* \
		"$root/lib/aarch64-linux-gnu/"
	initramfs_libs /lib/aarch64-linux-gnu /usr/aarch64-linux-gnu/lib:/usr/lib/aarch64-linux-gnu \
		"$root"/bin/{nmeafeed,locator,ntpgate,chronyd,chronyc}
	echo 'root:x:0:0:root:/:/bin/sh' >"$root/etc/passwd"
	echo 'root:x:0:' >"$root/etc/group"
	echo kx-timeserver >"$root/etc/device_name"
	# chronyd's configuration as the package installs it (the drop-in allows
	# the clients; the refclocks follow the pulse source through the udev
	# rule's helper, which the guest runs as udev would) and an init script
	# for chronyd as a SysV image has one
	mkdir -p "$root/etc/chrony/conf.d" "$root/etc/chrony/kx-timeserver/pps" "$root/etc/init.d" \
		"$root/usr/libexec/kx-timeserver"
	cp "$a64/dist/chrony/kx-timeserver.conf" "$root/etc/chrony/conf.d/"
	cp "$top/dist/chrony/refclocks.conf" "$root/etc/chrony/kx-timeserver/"
	cp "$top/dist/chrony/pps/refclocks.conf" "$root/etc/chrony/kx-timeserver/pps/"
	install -m 0755 "$a64/dist/udev/kx-pps-chrony" "$root/usr/libexec/kx-timeserver/"
	install -m 0755 "$here/qemu_arm64_chrony.init" "$root/etc/init.d/chrony"
	printf 'confdir /etc/chrony/conf.d\nbindcmdaddress /run/chrony/chronyd.sock\n' >"$root/etc/chrony.conf"
	install -m 0644 "$here/qemu_arm64_ntp.sh" "$root/ntp.sh"
}

# ---- the initramfs -----------------------------------------------------------
# shellcheck source=../lib/initramfs.sh
. "$here/../lib/initramfs.sh"
initramfs_begin "$work/root" "$busybox" "$here/qemu_arm64_init.sh"
initramfs_prog aarch64-linux-gnu-gcc "$here/qemu_arm64_check.c" qemu_arm64_check
# the smoke rig's device check, for emptying the line queue
initramfs_prog aarch64-linux-gnu-gcc "$here/../amd64/qemu_devcheck.c" qemu_devcheck
# the PHY clocks' user-space tools: Debian's arm64 phc_ctl (with the C
# library of the cross tool chain's sysroot) and ptppin, built here
linuxptp=${LINUXPTP_ARM64:-$top/build-kheaders/linuxptp-arm64/tree}
[ -x "$linuxptp/usr/sbin/phc_ctl" ] || fail "no arm64 phc_ctl: run scripts/kernel-headers"
cp "$linuxptp/usr/sbin/phc_ctl" "$root/bin/"
initramfs_libs /lib/aarch64-linux-gnu /usr/aarch64-linux-gnu/lib "$root/bin/phc_ctl"
aarch64-linux-gnu-g++ -std=c++20 -static -O2 -Wall -Wextra -Werror -I"$top/common" -I"$top/tools" \
	-o "$root/bin/ptppin" "$top/tools/ptppin_main.cpp" "$top/tools/ptppin.cpp" \
	"$top/tools/ptp_dev.cpp" "$top/common/kx_path.cpp" || fail "ptppin did not build for arm64"
mkdir -p "$root/lib/modules/kx"
cp "$kbuild/kx-pps.ko" "$kbuild/phystub/kxpps-phystub.ko" "$thw/kx-timinghw.ko" "$root/lib/modules/kx/"
# the kernel's modules the two need, dependencies first
for ko in "$kbuild/kx-pps.ko" "$thw/kx-timinghw.ko"; do
	for dep in $(modinfo -F depends "$ko" | tr ',' ' '); do
		[ "$dep" = kxpps-phystub ] || [ "$dep" = kxpps_phystub ] || initramfs_kmod "$kmods" "$dep"
	done
done
[ "$mode" != ntp ] || initramfs_kmod "$kmods" virtio_net
[ "$mode" != ntp ] || ntp_root
initramfs_pack "$work/initrd.cpio"
# The board's tree holds the one CPU of the machine it was dumped from; more
# are added as qemu's own tree has them (started through PSCI).
dts=$here/kx-qemu-virt.dts
if [ "$cpus" -gt 1 ]; then
	dts=$work/board.dts
	{
		cat "$here/kx-qemu-virt.dts"
		echo '&cpu0 { enable-method = "psci"; };'
		for ((c = 1; c < cpus; c++)); do
			echo "/ { cpus { cpu-map { socket0 { cluster0 { core$c { cpu = <&cpu$c>; }; }; }; };"
			echo "	cpu$c: cpu@$c { reg = <$c>; enable-method = \"psci\";"
			echo '		compatible = "arm,cortex-a57"; device_type = "cpu"; }; }; };'
		done
	} >"$dts"
fi
dtc -q -I dts -O dtb -o "$work/board.dtb" "$dts"

# ---- the simulated board with the GPS receiver --------------------------
sim="$work/sim"
rm -rf "$sim"
mkdir -p "$sim"
KX_ROOT=$sim "$simboard" >"$work/simboard.log" 2>&1 &
simpid=$!
cleanup() {
	kill "$simpid" 2>/dev/null || true
	wait "$simpid" 2>/dev/null || true
	# the NTP client the probe started on this side
	[ ! -f "$work/client/chronyd.pid" ] || kill "$(cat "$work/client/chronyd.pid")" 2>/dev/null || true
}
trap cleanup EXIT
for _ in $(seq 100); do
	grep -q 'simboard ready' "$work/simboard.log" && break
	sleep 0.1
done
grep -q 'simboard ready' "$work/simboard.log" || fail "simboard did not start: $(cat "$work/simboard.log")"

# ---- boot ----------------------------------------------------------------
# slub_debug: red zones, poisoning and checks on every slab object; KFENCE
# samples an allocation every 5 ms: a use after free or an overrun by a
# module is reported as a BUG
args="console=hvc0 panic=-1 loglevel=1 printk.time=0 slub_debug=FZP kfence.sample_interval=5"
rounds=${KX_QEMU_ROUNDS:-100}
args="$args rdinit=/init kxrounds=$rounds kxmode=$mode kxloop=${KX_LOOP_PULSES:-800} kxpulses=${KX_BENCH_PULSES:-1000}"
args="$args kxtiminghw=\"${KX_TIMINGHW_ARGS:-}\""
args="$args kxpps=\"${KX_PPS_ARGS:-}\""
size=$(printf '0x%x' "$(stat -c %s "$work/initrd.cpio")")
boot="setenv bootargs '$args'; booti $IMAGE_ADDR $INITRD_ADDR:$size $DTB_ADDR"
rm -f "$work"/{uart,ctl,console.log,uboot.log}
limit=${KX_QEMU_LIMIT:-280}
# the network: none, or for the time service qemu's user network with two
# of this machine's loopback ports forwarded to the guest's NTP and locator
# ports. The guest has no route beyond its own /24 and starts nothing that
# sends first. (restrict=on would also bar it from the outside, but this
# qemu then drops the guest's replies to forwarded datagrams as well.)
nic=(-nic none)
probe=()
if [ "$mode" = ntp ]; then
	read -r ntp_port loc_port < <(python3 -c '
import socket
s = [socket.socket(socket.AF_INET, socket.SOCK_DGRAM) for _ in range(2)]
for x in s: x.bind(("127.0.0.1", 0))
print(*(x.getsockname()[1] for x in s))')
	nic=(-netdev "user,id=net,hostfwd=udp:127.0.0.1:$ntp_port-:123,hostfwd=udp:127.0.0.1:$loc_port-:7372"
		-device virtio-net-pci,netdev=net -object "filter-dump,id=dump,netdev=net,file=$work/net.pcap")
	probe=(--host "$here/qemu_arm64_probe.py --work $work --ntp-port $ntp_port --locator-port $loc_port")
fi
"$here/qemu_arm64_run.py" --dir "$work" --boot "$boot" --sim "$sim" --limit "$limit" "${probe[@]}" -- \
	"${machine[@]}" "${nic[@]}" \
	-device "loader,file=$kimage,addr=$IMAGE_ADDR,force-raw=on" \
	-device "loader,file=$work/board.dtb,addr=$DTB_ADDR,force-raw=on" \
	-device "loader,file=$work/initrd.cpio,addr=$INITRD_ADDR,force-raw=on" \
	-chardev "socket,id=uart,path=$work/uart,server=on,wait=off" -serial chardev:uart \
	-chardev stdio,id=con,signal=off -device virtconsole,chardev=con \
	-chardev "socket,id=ctl,path=$work/ctl,server=on,wait=off" \
	-device virtserialport,chardev=ctl,name=kxctl
echo "gps log" | python3 -c '
import socket, sys
s = socket.socket(socket.AF_UNIX, socket.SOCK_STREAM)
s.connect(sys.argv[1]); s.sendall(b"gps log\n"); s.settimeout(5)
buf = b""
while not buf.endswith(b"\n"):
    d = s.recv(65536)
    if not d: break
    buf += d
sys.stdout.write(buf.decode(errors="replace"))' "$sim/run/simboard.sock" >"$work/gps_log.txt" 2>&1 || true
cleanup
trap - EXIT
# printable text only
tr -d '\r' <"$work/console.log" | LC_ALL=C tr -c '[:print:]\t\n' '?' >"$work/console.txt"
echo "qemu_arm64: guest ran $(($(date +%s) - start)) s, console in $work/console.txt"
KX_QEMU_CPUS=$cpus KX_QEMU_ROUNDS=$rounds exec python3 "$here/qemu_arm64_checks.py" "$mode" "$work"
