"""The PTP grandmaster end to end: the live appliance (simboard, kxkernel,
nmeafeed) and ntpgate; the shipped eth0 grandmaster configuration run by
Debian's ptp4l with software time stamps (-S: a veth pair has no PHY clock;
nothing else is overridden), a slaveOnly ptp4l client in a network
namespace of its own, the two joined by a veth pair. What the client
believes of its grandmaster (pmc GET PARENT_DATA_SET and
TIME_PROPERTIES_DATA_SET) must follow the module's state: lock -> class 6,
fix lost -> 7, holdover limit reached -> 248, fix back -> 6; and a restarted
grandmaster ptp4l, which starts at the configuration's 248, announces 6
again within seconds. kxmetrics serves the class the grandmaster announces.

Runs under `unshare --net --ipc --mount` (ctest does that): the run's
$KX_ROOT/run is bound over /run, so the shipped configuration's socket
/run/ptp4l-eth0 is the one ntpgate finds under $KX_ROOT. Every wait is for a
condition, capped generously.
"""
import os
import re
import shutil
import subprocess

import kxproc
from appliance import Appliance

PTP4L = shutil.which("ptp4l") or "/usr/sbin/ptp4l"
PMC = shutil.which("pmc") or "/usr/sbin/pmc"
CLIENT_NS = "kxptpclient"
CLIENT_CONF = """[global]
slaveOnly 1
free_running 1
uds_address /run/ptp4l-client
[ptpc0]
"""

# What a client must see in each state, written out from IEEE 1588's clock
# classes: 6 locked to GPS, 7 holding over, 248 not traceable.
SYNCHRONISED = {"gm.ClockClass": 6, "gm.ClockAccuracy": 0x21,
                "gm.OffsetScaledLogVariance": 0x4E5D, "timeTraceable": 1,
                "frequencyTraceable": 1, "currentUtcOffsetValid": 1, "ptpTimescale": 1,
                "timeSource": 0x20}
HOLDOVER = dict(SYNCHRONISED, **{"gm.ClockClass": 7})
UNSYNCHRONISED = {"gm.ClockClass": 248, "timeTraceable": 0, "frequencyTraceable": 0,
                  "currentUtcOffsetValid": 0, "timeSource": 0x20}


def sh(*argv):
    subprocess.run(argv, check=True, capture_output=True, timeout=30)


def pmc(socket_path, *commands, domain=0):
    """pmc's answer as {field: number} (hexadecimal ones converted)."""
    r = subprocess.run([PMC, "-u", "-b", "0", "-d", str(domain), "-s", socket_path, *commands],
                       capture_output=True, text=True, timeout=10)
    fields = {}
    for m in re.finditer(r"^\s+(\S+)\s+(0x[0-9a-fA-F]+|-?\d+)\s*$", r.stdout, re.M):
        fields[m.group(1)] = int(m.group(2), 0)
    return fields


def client_view():
    return pmc("/run/ptp4l-client", "GET PARENT_DATA_SET", "GET TIME_PROPERTIES_DATA_SET")


def served_class(app, build):
    """kxmetrics' kx_ptp_clock_class for eth0, from one run of it."""
    out = os.path.join(app.root, "metrics")
    os.makedirs(out, exist_ok=True)
    subprocess.run([os.path.join(build, "bin", "kxmetrics"), "-d", out], env=app.board.env(),
                   check=True, timeout=60)
    with open(os.path.join(out, "kx.prom")) as f:
        m = re.search(r'^kx_ptp_clock_class\{port="eth0"\} (\d+)$', f.read(), re.M)
    return int(m.group(1)) if m else None


def see(app, what, want, limit=120):
    """Waits until the client's view holds want; fails showing the view."""
    try:
        app.wait_for(what, lambda: all(client_view().get(k) == v for k, v in want.items()),
                     limit=limit)
    except AssertionError as e:
        raise AssertionError("%s\nthe client's view: %s" % (e, client_view())) from None


def test_clock_class_follows_the_appliance():
    build = os.environ["KX_BUILD"]
    with Appliance(build, module_params=["gnss_qualify=20"]) as app:
        root = app.root
        # the link udev makes to the module's LinuxPPS source
        os.symlink("../sys/class/pps/pps0", os.path.join(root, "dev/pps-kx"))
        os.makedirs(os.path.join(root, "run"), exist_ok=True)
        sh("mount", "--bind", os.path.join(root, "run"), "/run")
        confdir = os.path.join(root, "etc/linuxptp/kx-timeserver")
        os.makedirs(confdir)
        gm_conf = os.path.join(confdir, "ptp4l-eth0.conf")
        shutil.copy(os.path.join(build, "dist/ptp/ptp4l-eth0.conf"), gm_conf)
        client_conf = os.path.join(root, "ptp4l-client.conf")
        with open(client_conf, "w") as f:
            f.write(CLIENT_CONF)

        # eth0 here (the appliance's namespace), ptpc0 in the client's
        sh("ip", "netns", "add", CLIENT_NS)
        try:
            sh("ip", "link", "add", "eth0", "type", "veth", "peer", "name", "ptpc0")
            sh("ip", "link", "set", "ptpc0", "netns", CLIENT_NS)
            sh("ip", "addr", "add", "192.168.1.20/24", "dev", "eth0")
            sh("ip", "link", "set", "eth0", "up")
            sh("ip", "-n", CLIENT_NS, "addr", "add", "192.168.1.30/24", "dev", "ptpc0")
            sh("ip", "-n", CLIENT_NS, "link", "set", "ptpc0", "up")
            sh("ip", "-n", CLIENT_NS, "link", "set", "lo", "up")
            run(app, build, gm_conf, client_conf)
        finally:
            kxproc.stop_all(app.procs, timeout=10)
            app.procs.clear()
            subprocess.run(["ip", "netns", "del", CLIENT_NS], capture_output=True)


def run(app, build, gm_conf, client_conf):
    app.spawn("ptp4l-client", ["ip", "netns", "exec", CLIENT_NS, PTP4L, "-f", client_conf,
                               "-S", "-m"])
    gm = grandmaster(app, gm_conf)
    app.spawn("ntpgate", [os.path.join(build, "bin", "ntpgate")])
    gate = app.procs[-1]

    app.kernel.write_attr("k1", "2000")
    app.wait_for("time known", lambda: app.attr("timeknown") == "1")
    see(app, "client sees class 6", SYNCHRONISED)
    assert served_class(app, build) == 6
    assert client_view()["currentUtcOffset"] == int(app.attr("tai_offset"))
    app.kernel.write_attr("tai_offset", "38")
    app.wait_for("client sees the new UTC offset",
                 lambda: client_view().get("currentUtcOffset") == 38)

    # GPS lost: holdover within the limit, then the limit runs out.
    limit = app.attr("holdover_setting")
    app.board.command("gps fix 0")
    app.board.command("gps pulses 0")
    app.wait_for("fix dropped", lambda: app.attr("gpsfix") == "0")
    see(app, "client sees class 7", HOLDOVER)
    assert app.attr("timeknown") == "1"
    app.kernel.write_attr("holdover_setting", "1")
    app.wait_for("holdover limit reached", lambda: app.attr("timeknown") == "0")
    see(app, "client sees class 248", UNSYNCHRONISED)
    assert served_class(app, build) == 248

    # The fix back.
    app.kernel.write_attr("holdover_setting", limit)
    app.board.command("gps fix 1")
    app.board.command("gps pulses 1")
    app.wait_for("time known again", lambda: app.attr("timeknown") == "1")
    see(app, "client sees class 6 again", SYNCHRONISED)

    # The receiver lies (an hour ahead, as a spoofer makes it): the module's
    # guard calls it suspect and holds over: 7. The operator accepts it once
    # it is back on time: 6.
    app.wait_for("receiver trusted", lambda: app.attr("gnss_state") == "trusted", 240)
    app.board.command("gps jump 3600")
    app.wait_for("receiver suspect", lambda: app.attr("gnss_state") == "suspect")
    see(app, "client sees class 7 while the receiver is suspect", HOLDOVER)
    app.board.command("gps jump -3600")
    app.kernel.write_attr("gnss_accept", "1")
    see(app, "client sees class 6 once the receiver is accepted", SYNCHRONISED)

    # ptp4l restarted: it starts at its configuration's 248 and ntpgate,
    # reading back, sets 6 again (a new push in its log); the client goes on
    # following it.
    pushes = gate.output().count("eth0: clock class 6 announced")
    gm.stop()
    app.procs.remove(gm)
    gm = grandmaster(app, gm_conf)
    app.wait_for("restarted grandmaster announces class 6",
                 lambda: pmc("/run/ptp4l-eth0", "GET GRANDMASTER_SETTINGS_NP").get("clockClass")
                 == 6, limit=20)
    assert gate.output().count("eth0: clock class 6 announced") > pushes
    see(app, "client sees class 6 from the restarted grandmaster", SYNCHRONISED, limit=30)


def grandmaster(app, conf):
    """The shipped configuration as its unit runs it, with -S."""
    if os.path.exists("/run/ptp4l-eth0"):
        os.unlink("/run/ptp4l-eth0")
    app.spawn("ptp4l-eth0", [PTP4L, "-f", conf, "-S", "-m"])
    app.wait_for("grandmaster's socket", lambda: os.path.exists("/run/ptp4l-eth0"))
    return app.procs[-1]
