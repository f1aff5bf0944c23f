#!/usr/bin/env bash
# The Debian packages: built with dpkg-buildpackage from a copy of the
# checkout, checked with lintian (no errors), unpacked into a scratch root to
# see what lands where, and the module built by DKMS from the packaged
# source against Debian's 6.1 headers.
#
#   package_check.sh SOURCE_DIR WORK_DIR
#
# DKMS works in a tree of its own under WORK_DIR (--dkmstree, --sourcetree)
# and signs with a key made there, so nothing is registered on this machine.
set -euo pipefail

src=$1
work=$2
fail=0
bad() { echo "package_check: $*" >&2; fail=1; }

rm -rf "$work"
mkdir -p "$work/src" "$work/root"
# the checkout as git sees it: tracked and new files, nothing ignored
(cd "$src" && git ls-files -z --cached --others --exclude-standard |
	grep -zv '^build-kheaders$' | tar --null --ignore-failed-read -T - -cf -) |
	tar -xf - -C "$work/src"

start=$SECONDS
if ! (cd "$work/src" && nice -n 10 env DEB_BUILD_OPTIONS="parallel=2 nocheck" \
	dpkg-buildpackage -us -uc -b) >"$work/build.log" 2>&1; then
	tail -40 "$work/build.log"
	echo "package_check: dpkg-buildpackage failed" >&2
	exit 1
fi
echo "package_check: dpkg-buildpackage took $((SECONDS - start)) s"

# lintian: errors fail, the rest is shown
changes=$(ls "$work"/*.changes)
lintian --fail-on error "$changes" ||
	bad "lintian reports errors"

ver=$(dpkg-parsechangelog -l "$work/src/debian/changelog" -S Version)
for deb in "$work/kx-timeserver_${ver}_"*.deb "$work/kx-pps-dkms_${ver}_all.deb"; do
	dpkg -x "$deb" "$work/root"
	name=$(dpkg-deb -f "$deb" Package)
	mkdir -p "$work/control/$name"
	dpkg-deb -e "$deb" "$work/control/$name"
done
r=$work/root

# what lands where
for f in /usr/sbin/nmeafeed /usr/sbin/panelmon /usr/sbin/locator /usr/sbin/ntpgate \
	 /usr/bin/lcdtext /usr/bin/romtool /usr/bin/ptppin /usr/libexec/kx-timeserver/kx-pps-chrony \
	 /etc/init.d/nmeafeed /etc/init.d/panelmon /etc/init.d/locator /etc/init.d/ntpgate \
	 /usr/sbin/kxmetrics /etc/init.d/kxmetrics; do
	[ -x "$r$f" ] || bad "no program $f"
done
for f in /lib/systemd/system/nmeafeed.service /lib/systemd/system/panelmon.service \
	 /lib/systemd/system/locator.service /lib/systemd/system/ntpgate.service \
	 /lib/systemd/system/kxmetrics.service /lib/systemd/system/kxmetrics.timer \
	 /lib/udev/rules.d/60-kx-pps.rules /usr/lib/tmpfiles.d/kx-timeserver.conf \
	 /etc/chrony/conf.d/kx-timeserver.conf /etc/chrony/kx-timeserver/refclocks.conf \
	 /etc/chrony/kx-timeserver/pps/refclocks.conf /etc/modprobe.d/kx-pps.conf \
	 "/usr/src/kx-pps-$ver/dkms.conf"; do
	[ -f "$r$f" ] || bad "no file $f"
done
# units and init scripts start the packaged programs
for f in "$r"/lib/systemd/system/*.service "$r"/etc/init.d/*; do
	exe=$(sed -n -e 's/^ExecStart=\([^ ]*\).*/\1/p' -e 's/^DAEMON=//p' "$f")
	if [ -z "$exe" ] || [ ! -x "$r$exe" ]; then
		bad "$(basename "$f") starts '$exe', not in the package"
	fi
done

# the maintainer scripts enable the units and the init scripts and hand the
# module source to DKMS
postinst=$work/control/kx-timeserver/postinst
for d in nmeafeed panelmon locator ntpgate; do
	grep -q "deb-systemd-helper .*$d.service" "$postinst" || bad "postinst does not enable $d.service"
	grep -q "update-rc.d $d " "$postinst" || bad "postinst does not register /etc/init.d/$d"
done
# kxmetrics: its timer is enabled (the service has no [Install] of its own)
grep -q "deb-systemd-helper .*kxmetrics.timer" "$postinst" || bad "postinst does not enable kxmetrics.timer"
grep -q "update-rc.d kxmetrics " "$postinst" || bad "postinst does not register /etc/init.d/kxmetrics"
grep -q 'dkms' "$work/control/kx-pps-dkms/postinst" || bad "kx-pps-dkms postinst does not call dkms"
grep -qx "PACKAGE_VERSION=\"$ver\"" "$r/usr/src/kx-pps-$ver/dkms.conf" ||
	bad "dkms.conf does not carry the version $ver"

# DKMS: the packaged source against the installed 6.1 headers (-k: the
# running kernel is not the target)
# shellcheck disable=SC1091
. "$src/build-kheaders/trees.env"
kver=${KDIR_6_1_AMD64##*/linux-headers-}
dk=(--dkmstree "$work/dkms" --sourcetree "$r/usr/src")
mkdir -p "$work/dkms"
start=$SECONDS
if dkms add -m kx-pps -v "$ver" "${dk[@]}" >"$work/dkms.log" 2>&1 &&
	nice -n 10 env mok_signing_key="$work/mok.key" mok_certificate="$work/mok.pub" \
		dkms build -m kx-pps -v "$ver" -k "$kver" "${dk[@]}" >>"$work/dkms.log" 2>&1; then
	echo "package_check: dkms build took $((SECONDS - start)) s"
	built=$(cd "$work/dkms/kx-pps/$ver/$kver" && find . -name '*.ko*' | sort | tr '\n' ' ')
	[ "$built" = "./$(uname -m)/module/kx-pps.ko " ] ||
		bad "dkms built '$built', wanted kx-pps.ko alone (the stub is never installed)"
	ko=$work/dkms/kx-pps/$ver/$kver/$(uname -m)/module/kx-pps.ko
	modinfo "$ko" | grep -q '^alias: *of:N\*T\*Cgtop,ppstimer$' || bad "kx-pps.ko lacks its device-tree alias"
	modinfo "$ko" | grep -q "^vermagic: *$kver " || bad "kx-pps.ko is not built for $kver"
	# every option the package sets for the module is one of its parameters
	# (one NAME=VALUE word each)
	# shellcheck disable=SC2013
	for o in $(sed -n 's/^options kx-pps //p' "$r/etc/modprobe.d/kx-pps.conf"); do
		modinfo -p "$ko" | grep -q "^${o%%=*}:" ||
			bad "/etc/modprobe.d/kx-pps.conf sets ${o%%=*}, not a parameter of kx-pps.ko"
	done
	grep -qx /etc/modprobe.d/kx-pps.conf "$work/control/kx-timeserver/conffiles" ||
		bad "/etc/modprobe.d/kx-pps.conf is no conffile (an update would undo the site's value)"
else
	cat "$work/dkms.log"
	bad "dkms build failed"
fi

[ $fail -eq 0 ] && echo "package_check: packages built, lintian without errors, layout and dkms build as expected"
exit $fail
