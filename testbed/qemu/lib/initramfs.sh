# shellcheck shell=bash
# The initramfs of the qemu rigs, sourced by their host scripts: a fresh
# tree $root with static busybox, the rig's /init and the opening it
# sources (guest_init.sh), static check programs with the protocol's C side
# (kxcheck.c), kernel modules with their dependencies, programs with their
# shared libraries, and the cpio archive. Errors go to the script's fail().
kxq_lib=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)

# initramfs_begin ROOT BUSYBOX INIT
initramfs_begin() {
	root=$1
	[ -x "$2" ] || fail "$2 missing: run scripts/setup (busybox-static)"
	# a dynamically linked busybox cannot run in the bare initramfs
	if readelf -l "$2" | grep -q INTERP; then
		fail "$2 is dynamically linked: install busybox-static"
	fi
	rm -rf "$root"
	mkdir -p "$root"/{bin,proc,sys,dev,tmp,lib/kxq,lib/modules/kernel}
	cp "$2" "$root/bin/busybox"
	install -m 0755 "$3" "$root/init"
	install -m 0644 "$kxq_lib/guest_init.sh" "$root/lib/kxq/"
}

# initramfs_prog CC SOURCE NAME: a static check program as /bin/NAME
initramfs_prog() {
	"$1" -static -O2 -Wall -Wextra -Werror -I"$kxq_lib" -o "$root/bin/$3" "$2" "$kxq_lib/kxcheck.c"
}

# initramfs_kmod KMODS NAME...: modules of an unpacked kernel image as
# /lib/modules/kernel/NAME.ko, dependencies first; the load order in
# /lib/modules/kernel/order
initramfs_kmod() {
	local kmods=$1 name f dep
	shift
	for name in "$@"; do
		grep -qx -- "$name" "$root/lib/modules/kernel/order" 2>/dev/null && continue
		f=$(find "$kmods/kernel" -name "$name.ko" -o -name "$name.ko.xz" | head -n1)
		[ -n "$f" ] || fail "module $name missing from the kernel image"
		for dep in $(modinfo -F depends "$f" | tr ',' ' '); do
			initramfs_kmod "$kmods" "$dep"
		done
		case $f in
		*.xz) xz -dc "$f" >"$root/lib/modules/kernel/$name.ko" ;;
		*) cp "$f" "$root/lib/modules/kernel/$name.ko" ;;
		esac
		echo "$name" >>"$root/lib/modules/kernel/order"
	done
}

# initramfs_libs LIBDIR SEARCH PROG...: the programs' program interpreter
# and the shared libraries they and the libraries in LIBDIR need, found by
# name in the directories of SEARCH (a colon list), into LIBDIR, until none
# is missing
initramfs_libs() {
	local libdir=$root$1 search=$2 interp lib f missing=1
	shift 2
	mkdir -p "$libdir"
	interp=$(readelf -l "$1" | sed -n 's/.*program interpreter: \(.*\)\]$/\1/p')
	if [ -n "$interp" ]; then
		mkdir -p "$root$(dirname "$interp")"
		cp -L "$(initramfs_find "$search" "$(basename "$interp")")" "$root$interp"
	fi
	while [ $missing = 1 ]; do
		missing=0
		for lib in $(readelf -d "$@" "$libdir"/*.so* 2>/dev/null |
			sed -n 's/.*Shared library: \[\(.*\)\]/\1/p' | sort -u); do
			[ -e "$libdir/$lib" ] && continue
			cp -L "$(initramfs_find "$search" "$lib")" "$libdir/"
			missing=1
		done
	done
}

initramfs_find() {
	local d
	for d in ${1//:/ }; do
		[ -e "$d/$2" ] && { echo "$d/$2"; return; }
	done
	fail "$2 not found in $1"
}

# initramfs_pack OUT: the tree as a newc cpio archive
initramfs_pack() {
	(cd "$root" && find . | cpio -o -H newc --quiet) >"$1"
}
