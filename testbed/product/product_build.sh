#!/usr/bin/env bash
# A product build: BUILD_TESTING=OFF configures and builds every program with
# GoogleTest made unfindable, and leaves no test behind.
#
#   product_build.sh SOURCE_DIR BUILD_DIR [cmake arguments...]
set -euo pipefail
src=$1 out=$2
shift 2

fail() { echo "product build: $*" >&2; exit 1; }

rm -rf "$out"
# CMAKE_DISABLE_FIND_PACKAGE_GTest makes any find_package(GTest REQUIRED) a
# configure error
cmake -S "$src" -B "$out" -G Ninja -DBUILD_TESTING=OFF -DKX_WERROR=ON \
	-DCMAKE_DISABLE_FIND_PACKAGE_GTest=ON "$@" >"$out.configure.log" 2>&1 ||
	{ cat "$out.configure.log"; fail "configure failed"; }
cmake --build "$out" >"$out.build.log" 2>&1 ||
	{ tail -50 "$out.build.log"; fail "build failed"; }

for prog in nmeafeed panelmon locator lcdtext romtool ptppin kxmetrics; do
	[ -x "$out/bin/$prog" ] || fail "no program $prog"
done
tests=$(cd "$out" && ctest -N | sed -n 's/^Total Tests: //p')
[ "$tests" = 0 ] || fail "$tests tests registered"
if grep -qiE 'gtest|gmock|pytest' "$out/build.ninja"; then
	grep -iE 'gtest|gmock|pytest' "$out/build.ninja" | head -5
	fail "the build still refers to a test framework"
fi
echo "product build: programs built, no test, no test framework"
