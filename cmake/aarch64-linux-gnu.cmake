# Cross build for the board (arm64, Debian multiarch).
#
# Compilers: Debian's g++-aarch64-linux-gnu. Libraries: the arm64 packages
# installed beside the amd64 ones (libgpiod-dev:arm64, libgtest-dev:arm64,
# both Multi-Arch: same), under /usr/lib/aarch64-linux-gnu; the cross
# compiler searches /usr/include and that directory by itself. The C and C++
# run-time of the cross packages lives in /usr/aarch64-linux-gnu, the sysroot
# qemu-user is given to run the test programs here.

set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_SYSTEM_PROCESSOR aarch64)
set(CMAKE_LIBRARY_ARCHITECTURE aarch64-linux-gnu)

set(CMAKE_C_COMPILER aarch64-linux-gnu-gcc)
set(CMAKE_CXX_COMPILER aarch64-linux-gnu-g++)

# The test programs run under qemu-user with that sysroot. Its loader must
# take the C library from there too: left to its default path it finds the
# multiarch libc6:arm64 of another build first (through qemu's fallback to
# the host's /lib/aarch64-linux-gnu), and a second thread never starts.
# libgpiod and the other multiarch libraries are still found after it.
set(KX_AARCH64_SYSROOT /usr/aarch64-linux-gnu)
find_program(KX_QEMU_AARCH64 qemu-aarch64-static REQUIRED)
set(CMAKE_CROSSCOMPILING_EMULATOR ${KX_QEMU_AARCH64} -L ${KX_AARCH64_SYSROOT}
    -E LD_LIBRARY_PATH=${KX_AARCH64_SYSROOT}/lib)

# pkg-config must see the arm64 .pc files only: an amd64 libgpiod found here
# would link objects of the wrong machine.
set(ENV{PKG_CONFIG_LIBDIR} /usr/lib/aarch64-linux-gnu/pkgconfig:/usr/share/pkgconfig)
set(ENV{PKG_CONFIG_PATH} "")

# Libraries, headers and package files from the arm64 directories only;
# programs (pkg-config, python3, the emulator) are the build machine's.
set(CMAKE_IGNORE_PATH /usr/lib/x86_64-linux-gnu /lib/x86_64-linux-gnu
    /usr/lib/x86_64-linux-gnu/cmake/GTest)
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
