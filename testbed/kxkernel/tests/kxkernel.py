"""Test helper: run kxkernel (the kx_pps module live) under a KX_ROOT.

    with KxKernel(root) as k:       # waits for "kxkernel ready"
        open(k.attr("k1")).read()

The binary is taken from $KX_KERNEL (ctest sets it). FUSE mounts stay in
the caller's mount namespace: run the tests under `unshare --mount`.
"""
import os
import subprocess

import kxproc


class KxKernel(kxproc.Harness):
    def __init__(self, root, binary=None, env=None, params=()):
        """params: the module's parameters at load, "name=value" as insmod
        takes them."""
        self.root = root
        self.params = list(params)
        self.binary = binary or os.environ.get("KX_KERNEL", "kxkernel")
        self.env = dict(env or os.environ, KX_ROOT=root)
        self.proc = None

    @property
    def output(self):
        """Its output so far, line by line (the module's messages with KXH_LOG=1)."""
        return self.proc.output().splitlines(keepends=True) if self.proc else []

    def attr(self, name):
        return os.path.join(self.root, "sys/pps_filter", name)

    def read_attr(self, name):
        with open(self.attr(name)) as f:
            return f.read()

    def write_attr(self, name, text):
        fd = os.open(self.attr(name), os.O_WRONLY)
        try:
            return os.write(fd, text.encode())
        finally:
            os.close(fd)

    @property
    def device(self):
        return os.path.join(self.root, "dev/kx_pps")

    def start(self):
        self.proc = kxproc.Process([self.binary, *self.params], env=self.env, name="kxkernel")
        try:
            self.proc.wait_output("kxkernel ready\n", timeout=60)
        except AssertionError:
            self.stop()
            raise
        return self

    def stop(self):
        if self.proc:
            self.proc.stop(timeout=30)  # kept: its output stays readable
        for mount in ("dev/kx_pps", "sys/pps_filter"):
            subprocess.run(["umount", "-l", os.path.join(self.root, mount)],
                           stderr=subprocess.DEVNULL)
