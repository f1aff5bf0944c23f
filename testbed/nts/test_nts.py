"""NTS from the appliance's chronyd to a chronyd client in another network
namespace.

The appliance side is this test's own namespaces (ctest starts it under
`unshare --net --mount --uts`): the host name the certificate names, a
private /var/lib/chrony, and chronyd with the shipped drop-in
(kx-timeserver.conf as configured for installation) after the shipped
kx-nts-cert has made the key and certificate, as chronyd's unit runs it.
`local stratum 1` stands in for the GPS, so chronyd serves from its start.
The clients live in a second network and mount namespace (a holder
process), joined to this one by a veth pair made here:

    appliance 192.0.2.1 (kxa0) --- (kxc0) 192.0.2.2 client, 192.0.2.3 flood

Both chronyds use -x (the clock is never touched)."""
import grp
import os
import pwd
import shutil
import socket
import subprocess
import tempfile

import kxproc
import pytest

CHRONYD = shutil.which("chronyd") or "/usr/sbin/chronyd"
CHRONYC = shutil.which("chronyc") or "/usr/bin/chronyc"
BUILD = os.environ.get("KX_BUILD", "")
DROP_IN = os.path.join(BUILD, "dist/chrony/kx-timeserver.conf")
HELPER = os.path.join(BUILD, "dist/chrony/kx-nts-cert")
# the helper makes the pair only for a drop-in that serves NTS: this one
HELPER_ENV = dict(os.environ, KX_NTS_DROPIN=DROP_IN)
STATE = "/var/lib/chrony"
NAME = "kx-appliance.test"
APPLIANCE, CLIENT, FLOODER = "192.0.2.1", "192.0.2.2", "192.0.2.3"
# the flood: this many requests from one address, 5 ms apart
FLOOD = 2000
# generous: NTS-KE, the first exchanges and the selection take seconds
CAP = 120

APPLIANCE_CONF = """include {drop_in}
local stratum 1
pidfile {dir}/chronyd.pid
bindcmdaddress {dir}/chronyd.sock
cmdport 0
"""
CLIENT_CONF = """server {name} nts iburst minpoll 1 maxpoll 1
ntstrustedcerts {trust}
nosystemcert
pidfile {dir}/chronyd.pid
bindcmdaddress {dir}/chronyd.sock
cmdport 0
port 0
"""

pytestmark = pytest.mark.skipif(
    not os.path.exists(CHRONYD) or not os.path.exists(HELPER) or os.geteuid() != 0,
    reason="needs chrony, the configured build tree (KX_BUILD) and root")


def run(*argv):
    return subprocess.run(list(argv), check=True, capture_output=True, text=True,
                          timeout=60).stdout


def chronyc(sock, *args):
    r = subprocess.run([CHRONYC, "-h", sock, "-n", "-c"] + list(args),
                       capture_output=True, text=True, timeout=30)
    return [line.split(",") for line in r.stdout.splitlines()]


def tcp_listening(port):
    """A TCP socket of this network namespace listens on the port."""
    for table in ("/proc/net/tcp", "/proc/net/tcp6"):
        with open(table) as f:
            next(f)
            for line in f:
                fields = line.split()
                if int(fields[1].rsplit(":", 1)[1], 16) == port and fields[3] == "0A":
                    return True
    return False


class Namespace:
    """A second network and mount namespace, held by a sleeping process."""

    def __init__(self):
        self.proc = kxproc.Process(["unshare", "--net", "--mount", "--propagation", "private",
                                    "sleep", "infinity"], name="netns holder")
        own = os.readlink("/proc/self/ns/net")
        self.proc.wait_until(lambda: os.readlink("/proc/%d/ns/net" % self.proc.pid) != own,
                             "the holder's network namespace")
        self.pid = self.proc.pid

    def argv(self, *argv):
        return ["nsenter", "-t", str(self.pid), "-n", "-m"] + list(argv)

    def run(self, *argv):
        return run(*self.argv(*argv))


@pytest.fixture(scope="module")
def rig():
    work = tempfile.mkdtemp(prefix="kx-nts.")
    procs = []
    try:
        socket.sethostname(NAME)
        run("mount", "-t", "tmpfs", "-o", "mode=0750", "tmpfs", STATE)
        chrony_user = pwd.getpwnam("_chrony")
        os.chown(STATE, chrony_user.pw_uid, chrony_user.pw_gid)
        os.chmod(work, 0o755)

        # the unit's ExecStartPre: the helper as chronyd's user, run from a
        # copy in the test's own tree with its drop-in (the build tree may
        # lie below a directory only its owner may enter)
        rig_helper = helper_for_chrony(work)
        helper = kxproc.Process([rig_helper[0]], user="_chrony", env=rig_helper[1])
        assert helper.stop(timeout=60, sig=None) == 0, helper.describe()
        cert = os.path.join(STATE, "kx-nts.crt")

        ns = Namespace()
        procs.append(ns.proc)
        run("ip", "link", "add", "kxa0", "type", "veth", "peer", "name", "kxc0",
            "netns", str(ns.pid))
        run("ip", "addr", "add", APPLIANCE + "/24", "dev", "kxa0")
        run("ip", "link", "set", "kxa0", "up")
        ns.run("ip", "link", "set", "lo", "up")
        ns.run("ip", "addr", "add", CLIENT + "/24", "dev", "kxc0")
        ns.run("ip", "addr", "add", FLOODER + "/24", "dev", "kxc0")
        ns.run("ip", "link", "set", "kxc0", "up")
        # the clients find the appliance by the name its certificate gives
        hosts = os.path.join(work, "hosts")
        with open(hosts, "w") as f:
            f.write("127.0.0.1 localhost\n%s %s\n" % (APPLIANCE, NAME))
        ns.run("mount", "--bind", hosts, "/etc/hosts")

        appliance = start_appliance(work)
        procs.append(appliance)
        rig = {"work": work, "ns": ns, "cert": cert, "appliance": appliance,
               "sock": os.path.join(work, "appliance", "chronyd.sock"), "procs": procs,
               "helper": rig_helper}
        rig["client"], rig["client_sock"] = start_client(rig, "client", cert)
        yield rig
    finally:
        kxproc.stop_all(reversed(procs))
        subprocess.run(["umount", STATE])
        shutil.rmtree(work, ignore_errors=True)


def helper_for_chrony(work):
    """The helper and the drop-in it reads, copied into work (open to
    chronyd's user): the path and the environment to run it with."""
    helper = os.path.join(work, "kx-nts-cert")
    drop_in = os.path.join(work, "kx-timeserver.conf")
    shutil.copy(HELPER, helper)
    shutil.copy(DROP_IN, drop_in)
    os.chmod(helper, 0o755)
    os.chmod(drop_in, 0o644)
    return helper, dict(os.environ, KX_NTS_DROPIN=drop_in)


def start_appliance(work):
    """The appliance's chronyd, as its unit starts it (dropping root for
    its own user), once it serves NTS-KE and NTP."""
    own = os.path.join(work, "appliance")
    if not os.path.isdir(own):
        # chronyd's command socket in a directory of its user's
        chrony_user = pwd.getpwnam("_chrony")
        os.mkdir(own, 0o750)
        os.chown(own, chrony_user.pw_uid, chrony_user.pw_gid)
    conf = os.path.join(work, "appliance.conf")
    with open(conf, "w") as f:
        f.write(APPLIANCE_CONF.format(drop_in=DROP_IN, dir=own))
    appliance = kxproc.Process([CHRONYD, "-x", "-d", "-f", conf],
                               log=os.path.join(own, "chronyd.log"), name="appliance chronyd")
    appliance.wait_until(lambda: tcp_listening(4460) and kxproc.udp_port_bound(123),
                         "chronyd serving NTS-KE and NTP")
    return appliance


def start_client(rig, name, trust):
    d = os.path.join(rig["work"], name)
    os.makedirs(d, mode=0o700)
    shutil.copy(trust, os.path.join(d, "trusted.crt"))
    conf = os.path.join(d, "chrony.conf")
    with open(conf, "w") as f:
        f.write(CLIENT_CONF.format(name=NAME, trust=os.path.join(d, "trusted.crt"), dir=d))
    p = kxproc.Process(rig["ns"].argv(CHRONYD, "-x", "-d", "-u", "root", "-f", conf),
                       log=os.path.join(d, "chronyd.log"), name=name + " chronyd")
    rig["procs"].append(p)
    return p, os.path.join(d, "chronyd.sock")


def authdata(sock):
    """chronyc authdata of the client's one source: (mode, NTS-KE attempts
    since the last good one, NAKs, cookies held)."""
    for f in chronyc(sock, "-N", "authdata"):
        if len(f) == 10:
            return f[1], int(f[6]), int(f[7]), int(f[8])
    return None


def selected(sock):
    return any(f[1] == "*" and f[2] == APPLIANCE for f in chronyc(sock, "sources") if len(f) > 2)


def served(rig):
    """The appliance's chronyd serverstats: NTP requests received and
    dropped, NTS-KE sessions accepted, authenticated NTP requests."""
    for f in chronyc(rig["sock"], "serverstats"):
        if len(f) >= 8:
            return {"ntp": int(f[0]), "dropped": int(f[1]), "ntske": int(f[5]),
                    "authenticated": int(f[7])}
    return None


def client_counts(rig, address):
    """(NTP requests, of them dropped) the appliance holds for an address."""
    for f in chronyc(rig["sock"], "clients"):
        if len(f) > 2 and f[0] == address:
            return int(f[1]), int(f[2])
    return 0, 0


def test_the_certificate_made_at_first_start(rig):
    out = run("openssl", "x509", "-in", rig["cert"], "-noout", "-startdate", "-enddate",
              "-ext", "subjectAltName")
    assert "notBefore=Jan  1 00:00:00 1970 GMT" in out, out
    assert "notAfter=Dec 31 23:59:59 9999 GMT" in out, out
    assert "DNS:" + NAME in out, out
    # chronyd's user made both; the key is for its eyes only
    st = os.stat(os.path.join(STATE, "kx-nts.key"))
    assert st.st_mode & 0o777 == 0o640 and st.st_uid == pwd.getpwnam("_chrony").pw_uid


def test_client_gets_authenticated_time_and_selects_the_appliance(rig):
    sock = rig["client_sock"]
    kxproc.wait_for(lambda: selected(sock), "the client to select the appliance",
                    timeout=CAP, step=0.5, watch=[rig["client"], rig["appliance"]])
    mode, attempts, naks, cookies = authdata(sock)
    assert (mode, naks) == ("NTS", 0) and cookies > 0, authdata(sock)
    stats = served(rig)
    assert stats["ntske"] >= 1 and stats["authenticated"] >= 1, stats


def test_client_trusting_another_certificate_is_refused(rig):
    # another unit's pair: the helper as the init script runs it (root)
    other = os.path.join(rig["work"], "other")
    other_state = os.path.join(other, STATE.lstrip("/"))
    os.makedirs(other_state)
    os.chown(other_state, 0, grp.getgrnam("_chrony").gr_gid)
    helper = kxproc.Process([HELPER], root=other, env=HELPER_ENV)
    assert helper.stop(timeout=60, sig=None) == 0, helper.describe()
    st = os.stat(os.path.join(other_state, "kx-nts.key"))
    assert st.st_mode & 0o777 == 0o640 and st.st_gid == grp.getgrnam("_chrony").gr_gid

    p, sock = start_client(rig, "stranger", os.path.join(other_state, "kx-nts.crt"))
    p.wait_output("failed : Error in the certificate verification", timeout=CAP)
    kxproc.wait_for(lambda: (authdata(sock) or ("", 0))[1] >= 1,
                    "the refused NTS-KE attempt counted", timeout=CAP, step=0.5, watch=[p])
    mode, attempts, naks, cookies = authdata(sock)
    assert cookies == 0, authdata(sock)
    reach = [f[5] for f in chronyc(sock, "sources") if len(f) > 5 and f[2] == APPLIANCE]
    assert reach == ["0"], "a client without cookies sent NTP to the appliance: %s" % reach
    assert not selected(sock)
    p.stop()


FLOOD_CODE = r"""
import socket, sys, time
n, pause = int(sys.argv[1]), float(sys.argv[2])
s = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
s.bind((sys.argv[3], 0))
s.setblocking(False)
# an NTPv4 client request, unauthenticated
request = bytes([0x23]) + bytes(39) + (0x1234567890abcdef).to_bytes(8, "big")
replies = 0
start = time.monotonic()
for i in range(n):
    s.sendto(request, (sys.argv[4], 123))
    time.sleep(pause)
    while True:
        try:
            s.recv(1024)
            replies += 1
        except BlockingIOError:
            break
print("sent %d replies %d seconds %.3f" % (n, replies, time.monotonic() - start), flush=True)
"""


def test_a_flood_from_one_address_is_rate_limited_while_a_client_is_served(rig):
    before = client_counts(rig, CLIENT)
    # 5 ms between requests: the flood outlasts several of the client's
    # 2 s polls however fast this machine is
    flood = kxproc.Process(rig["ns"].argv("/usr/bin/python3", "-c", FLOOD_CODE, str(FLOOD),
                                          "0.005", FLOODER, APPLIANCE), name="flood")
    rig["procs"].append(flood)
    # the client's requests keep being answered while the flood runs
    flood.wait_until(lambda: client_counts(rig, CLIENT)[0] >= before[0] + 2,
                     "the client answered during the flood", timeout=CAP)
    flood.wait_output("sent %d" % FLOOD, timeout=CAP * 5)
    _, replies, seconds = flood.output().split()[1:6:2]
    replies, seconds = int(replies), float(seconds)
    received, dropped = client_counts(rig, FLOODER)
    answered = received - dropped
    # chronyd's limit: a burst of 16, then one reply a second, and of the
    # requests beyond those a random quarter (leak 2): at most this many
    # answers, with five standard deviations of that quarter to spare
    beyond = max(0.0, received - 16 - seconds)
    bound = 16 + seconds + 1 + beyond / 4 + 5 * (beyond * 3 / 16) ** 0.5
    print("flood: %d requests in %.1f s, %d dropped, %d answered (bound %.0f); the flooder "
          "got %d replies" % (received, seconds, dropped, answered, bound, replies))
    assert dropped > 0 and answered <= bound, (received, dropped, seconds, bound)
    assert replies <= answered
    assert client_counts(rig, CLIENT)[1] == 0, "the client's own requests were dropped"
    assert selected(rig["client_sock"]) and authdata(rig["client_sock"])[2] == 0


def test_a_restart_keeps_the_cookies_good(rig):
    with open(rig["cert"], "rb") as f:
        cert = f.read()
    rig["appliance"].stop()
    # the unit starts the helper again: the pair is there, nothing is made
    path, env = rig["helper"]
    helper = kxproc.Process([path], user="_chrony", env=env)
    assert helper.stop(timeout=60, sig=None) == 0, helper.describe()
    with open(rig["cert"], "rb") as f:
        assert f.read() == cert, "the certificate was made again"
    assert os.path.exists(os.path.join(STATE, "ntskeys")), os.listdir(STATE)

    appliance = start_appliance(rig["work"])
    rig["procs"].append(appliance)
    rig["appliance"] = appliance
    # the client goes on with the cookies it holds: the restarted chronyd
    # reads them with the keys it saved, and no new NTS-KE is needed
    kxproc.wait_for(lambda: (served(rig) or {}).get("authenticated", 0) >= 2,
                    "authenticated requests after the restart", timeout=CAP, step=0.5,
                    watch=[appliance, rig["client"]])
    stats = served(rig)
    assert stats["ntske"] == 0, stats
    assert authdata(rig["client_sock"])[2] == 0
