"""Test helper: run kxkernel (the kx_pps module live) under a KX_ROOT.

    with KxKernel(root) as k:       # waits for "kxkernel ready"
        open(k.attr("k1")).read()

The binary is taken from $KX_KERNEL (ctest sets it). FUSE mounts stay in
the caller's mount namespace: run the tests under `unshare --mount`.
"""
import os
import subprocess
import threading


class KxKernel:
    def __init__(self, root, binary=None, env=None):
        self.root = root
        self.binary = binary or os.environ.get("KX_KERNEL", "kxkernel")
        self.env = dict(env or os.environ, KX_ROOT=root)
        self.proc = None
        self.output = []

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
        self.proc = subprocess.Popen([self.binary], env=self.env, stdout=subprocess.PIPE,
                                     stderr=subprocess.STDOUT, text=True)
        for line in self.proc.stdout:
            self.output.append(line)
            if line == "kxkernel ready\n":
                break
        else:
            self.proc.wait()
            raise RuntimeError("kxkernel did not start:\n" + "".join(self.output))
        # keep draining its log so it never blocks on a full pipe
        threading.Thread(target=self._drain, daemon=True).start()
        return self

    def _drain(self):
        for line in self.proc.stdout:
            self.output.append(line)

    def stop(self):
        if self.proc and self.proc.poll() is None:
            self.proc.terminate()
            try:
                self.proc.wait(timeout=30)
            except subprocess.TimeoutExpired:
                self.proc.kill()
                self.proc.wait()
        for mount in ("dev/kx_pps", "sys/pps_filter"):
            subprocess.run(["umount", "-l", os.path.join(self.root, mount)],
                           stderr=subprocess.DEVNULL)

    def __enter__(self):
        return self.start()

    def __exit__(self, *exc):
        self.stop()
