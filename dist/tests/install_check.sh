#!/usr/bin/env bash
# What `cmake --install` puts where, and whether the pieces work there.
#
#   install_check.sh BUILD_DIR WORK_DIR
#
# The install goes to WORK_DIR/root (DESTDIR). The places come from the
# environment (KX_SBINDIR ... KX_SYSV_INITDIR: the configured install
# directories, absolute). Everything that needs the installed files at their
# real paths runs in private namespaces (mount, network, IPC, PID) whose
# /run, /var, /dev and /sys are private too, so nothing on this machine is
# touched: the install's directories are laid over the machine's with
# overlayfs.
set -euo pipefail

build=$1
work=$2
root=$work/root
here=$(cd "$(dirname "$0")" && pwd)
fail=0
bad() { echo "install_check: $*" >&2; fail=1; }

rm -rf "$work"
mkdir -p "$work"
DESTDIR=$root cmake --install "$build" >"$work/install.log"

# kxmetrics is no daemon under systemd (a timer starts it) but one under SysV
daemons="nmeafeed panelmon locator ntpgate kxmetrics"
tools="lcdtext romtool ptppin"

# --- what lands where: the board builds of the programs, the service files
for p in $daemons; do
	cmp -s "$build/bin/$p" "$root$KX_SBINDIR/$p" || bad "$KX_SBINDIR/$p is not the board build"
	[ -f "$root$KX_SYSTEMD_UNITDIR/$p.service" ] || bad "no $KX_SYSTEMD_UNITDIR/$p.service"
	[ -x "$root$KX_SYSV_INITDIR/$p" ] || bad "no $KX_SYSV_INITDIR/$p"
done
for p in $tools; do
	cmp -s "$build/bin/$p" "$root$KX_BINDIR/$p" || bad "$KX_BINDIR/$p is not the board build"
done
for f in "$KX_SYSTEMD_UNITDIR/kxmetrics.timer" \
	 "$KX_UDEV_RULESDIR/60-kx-pps.rules" "$KX_TMPFILESDIR/kx-timeserver.conf" \
	 "$KX_CHRONY_CONFDIR/kx-timeserver.conf" "$KX_CHRONY_REFCLOCKDIR/refclocks.conf" \
	 "$KX_CHRONY_REFCLOCKDIR/pps/refclocks.conf" "$KX_MODPROBEDIR/kx-pps.conf"; do
	[ -f "$root$f" ] || bad "no $f"
done

# --- the module's site settings: modprobe reads them as options of kx_pps,
# and each names a parameter the module declares (a misspelt one would make
# the load fail)
opts=$(modprobe -C "$root$KX_MODPROBEDIR" --showconfig 2>&1 | sed -n 's/^options kx_pps //p')
case " $opts " in
*" holdover_limit="[0-9]*) ;;
*) bad "modprobe reads no holdover_limit for kx_pps from $KX_MODPROBEDIR/kx-pps.conf: '$opts'" ;;
esac
for o in $opts; do
	grep -Eq "module_param(_named)?\(${o%%=*}," "$here"/../../kernel/*.c ||
		bad "kx-pps.conf sets ${o%%=*}, which is no parameter of the module"
done

# --- init scripts: shellcheck, as the POSIX sh they declare
for p in $daemons; do
	shellcheck -s sh "$root$KX_SYSV_INITDIR/$p" || bad "shellcheck: $p"
done

# --- tmpfiles.d: the run-data directory appears
systemd-tmpfiles --root="$root" --create "$root$KX_TMPFILESDIR/kx-timeserver.conf" ||
	bad "systemd-tmpfiles failed"
mode=$(stat -c '%a %U' "$root/var/volatile/rundata" 2>/dev/null || true)
[ "$mode" = "755 root" ] || bad "tmpfiles.d made /var/volatile/rundata as '$mode'"

# --- units (systemd-analyze verify, silent) and init scripts at work
unshare --mount --net --ipc --pid --fork --mount-proc --kill-child \
	"$here/install_check_ns.sh" services "$root" || bad "services (see above)"
# --- the udev rule against a sysfs laid out as the module's devices are, and
# chronyd's refclocks following the pulse source through its helper
unshare --mount --fork --kill-child \
	"$here/install_check_ns.sh" udev "$root" || bad "udev rule or chrony (see above)"

[ $fail -eq 0 ] && echo "install_check: install layout, init scripts, units, tmpfiles.d, udev and chrony as expected"
exit $fail
