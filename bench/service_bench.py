#!/usr/bin/env python3
"""Figures of the real orvo-statusd against simulated printers, inside scripts/testenv/orvo-testenv.

    service_bench.py SOURCE_DIR BUILD_DIR OUT.md [--quick]

Started by bench/run-all.sh, which also writes the machine description around OUT.md. Measures,
in one run: freshness of the status files, cost per printer against a shell loop that runs the
same CUPS commands at the same pace, how far the polls slip with many network printers, and the
cost of one device-manager cycle with 200 queues. Figures only; nothing here passes or fails.
"""

import ctypes
import os
import random
import re
import select
import shutil
import signal
import socket
import statistics
import struct
import subprocess
import sys
import threading
import time

SRC = BUILD = OUT = SIM = USBSIM = SERVICE = BENCH_DISCOVERY = BENCH_QUESTIONS = None
QUICK = False
# The test environment's usb backend reads its controls here (backends get no environment).
USB_CTL = "/run/orvo-testenv"
HISTORIES = [0, 100, 500]
CFG = "/opt/orvo/q70_series_printer/cfg/"
WORK = os.path.join(os.environ.get("ORVO_TESTENV_DIR", "/run/orvo-testenv"), "bench")
TICK = os.sysconf("SC_CLK_TCK")
MODEL = "Q7020DN"
USER = os.path.basename(os.path.expanduser("~").rstrip("/")) or ""

WINDOW_S = WARMUP_S = CHANGES = None


def configure(src, build, out_path, quick):
    """Sets the paths and the pace; other benchmarks that import these helpers call it too."""
    global SRC, BUILD, OUT, QUICK, SIM, USBSIM, SERVICE, BENCH_DISCOVERY, BENCH_QUESTIONS
    global WINDOW_S, WARMUP_S, CHANGES
    SRC, BUILD, OUT, QUICK = src, build, out_path, quick
    SIM = os.path.join(SRC, "tests/doubles/printersim/orvo-printer-sim")
    USBSIM = os.path.join(BUILD, "tests/doubles/usbsim/orvo-usb-sim")
    SERVICE = os.path.join(BUILD, "daemon/orvo-statusd")
    BENCH_DISCOVERY = os.path.join(BUILD, "bench/bench_discovery")
    BENCH_QUESTIONS = os.path.join(BUILD, "bench/bench_cups_questions")
    WINDOW_S = 8 if QUICK else 20
    WARMUP_S = 3 if QUICK else 5
    CHANGES = 10 if QUICK else 50

report = []


def log(*args):
    print(time.strftime("%H:%M:%S"), *args, file=sys.stderr, flush=True)


def out(line=""):
    report.append(line)


def run(cmd, check=True, **kw):
    return subprocess.run(cmd, check=check, stdout=subprocess.PIPE, stderr=subprocess.PIPE,
                          text=True, env=dict(os.environ, LC_ALL="C"), **kw)


# ---------------------------------------------------------------------------------------------
# Replies

def build_reply(text):
    path = os.path.join(WORK, "reply.conf")
    with open(path, "w") as f:
        f.write(text)
    return bytes.fromhex(run(["python3", SIM, "build", path]).stdout.strip())


def reply_for(code, toner):
    return build_reply(f"info1 = Orvo {MODEL}\ninfo2 = Bench\ninfo3 = FW 1.0.0\n"
                       f"status_code = {code}\nstatus_text = Bench\n"
                       f"supply = 0x0000:text:Toner {toner}%\nsupply = 0x1000:{toner}\n")


def usb_file_content(reply):
    # A USB printer sends the reply without its header; the service puts 7 zero bytes in front.
    return b"\0" * 7 + reply[7:]


# ---------------------------------------------------------------------------------------------
# Queues and simulators

def queues():
    res = run(["lpstat", "-v"], check=False)
    names = []
    for line in res.stdout.splitlines():
        m = re.match(r"device for (.*): ", line)
        if m:
            names.append(m.group(1))
    return names


def remove_all_queues():
    for name in queues():
        run(["lpadmin", "-x", name], check=False)


def add_queue(name, uri):
    run(["lpadmin", "-p", name, "-E", "-v", uri, "-m", f"Orvo/Orvo_{MODEL}.ppd"], check=False)


def ctl(path, line):
    s = socket.socket(socket.AF_UNIX, socket.SOCK_STREAM)
    s.settimeout(5)
    s.connect(path)
    s.sendall((line + "\n").encode())
    data = b""
    while True:
        part = s.recv(4096)
        if not part:
            break
        data += part
    s.close()
    return data.decode().strip()


class NetSim:
    """One orvo-printer-sim process at its own loopback address."""

    def __init__(self, address, reply):
        self.address = address
        self.control = os.path.join(WORK, f"net-{address}.ctl")
        ready = os.path.join(WORK, f"net-{address}.ready")
        for p in (self.control, ready):
            if os.path.exists(p):
                os.unlink(p)
        self.proc = subprocess.Popen(["python3", SIM, "serve", "--address", address,
                                      "--tcp-port", "-1", "--reply-hex", reply.hex(),
                                      "--control", self.control, "--ready", ready],
                                     stdout=subprocess.DEVNULL)
        wait_for(lambda: os.path.exists(ready), 10, f"simulator {address}")

    def set_reply(self, reply):
        return ctl(self.control, "set-reply-hex " + reply.hex())

    def requests(self):
        m = re.search(r"requests (\d+)", ctl(self.control, "count"))
        return int(m.group(1)) if m else -1

    def stop(self):
        self.proc.terminate()
        self.proc.wait()


class Responder(threading.Thread):
    """Many network printers in one thread, for the scaling run: answers each status request
    with a fixed reply and counts requests per address."""

    def __init__(self, addresses, reply):
        super().__init__(daemon=True)
        self.reply = reply
        self.counts = {a: 0 for a in addresses}
        self.socks = {}
        for a in addresses:
            s = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
            s.bind((a, 9300))
            self.socks[s.fileno()] = (s, a)
        self.stopped = False
        self.start()

    def run(self):
        poller = select.poll()
        for fd in self.socks:
            poller.register(fd, select.POLLIN)
        while not self.stopped:
            for fd, _ in poller.poll(200):
                s, a = self.socks[fd]
                data, peer = s.recvfrom(4096)
                if len(data) == 15 and data[0] == 0xA5:
                    self.counts[a] += 1
                    s.sendto(self.reply, peer)

    def stop(self):
        self.stopped = True
        self.join()
        for s, _ in self.socks.values():
            s.close()


# ---------------------------------------------------------------------------------------------
# inotify: tool runs (each one's output file is written once) and status file writes

IN_CLOSE_WRITE = 0x00000008
libc = ctypes.CDLL("libc.so.6", use_errno=True)


class Watch(threading.Thread):
    def __init__(self, directory):
        super().__init__(daemon=True)
        self.fd = libc.inotify_init1(os.O_NONBLOCK)
        if self.fd < 0 or libc.inotify_add_watch(self.fd, directory.encode(), IN_CLOSE_WRITE) < 0:
            raise OSError(ctypes.get_errno(), "inotify")
        self.lock = threading.Lock()
        self.counts = {}
        self.listeners = []
        self.start()

    def run(self):
        while True:
            select.select([self.fd], [], [])
            try:
                buf = os.read(self.fd, 65536)
            except BlockingIOError:
                continue
            now = time.monotonic()
            i = 0
            while i < len(buf):
                _, _, _, length = struct.unpack_from("iIII", buf, i)
                name = buf[i + 16:i + 16 + length].rstrip(b"\0").decode("utf-8", "replace")
                i += 16 + length
                with self.lock:
                    self.counts[name] = self.counts.get(name, 0) + 1
                    listeners = list(self.listeners)
                for fn in listeners:
                    fn(name, now)

    def snapshot(self):
        with self.lock:
            return dict(self.counts)


def tool_runs(before, after):
    """Tool runs between two snapshots, by kind: each run's output file is written once."""
    kinds = {"lpstat -v": 0, "job query": 0, "lpstat -p": 0, "other": 0}
    per_worker = {}
    for name, n in after.items():
        d = n - before.get(name, 0)
        if d <= 0:
            continue
        if name.startswith("printerlist.") and name != "printerlist.ini":
            kinds["lpstat -v"] += d
        elif m := re.match(r"printjob_(\d+)\.tmp$", name):
            kinds["job query"] += d
            per_worker[int(m.group(1))] = per_worker.get(int(m.group(1)), 0) + d
        elif re.match(r"printer_\d+\.tmp$", name):
            kinds["lpstat -p"] += d
        elif not name.endswith(".dat") and name not in ("service.hb", "printerlist.ini"):
            kinds["other"] += d
    return kinds, per_worker


# ---------------------------------------------------------------------------------------------
# /proc

def read(path):
    with open(path) as f:
        return f.read()


def stat_fields(pid, task=None):
    path = f"/proc/{pid}/task/{task}/stat" if task else f"/proc/{pid}/stat"
    text = read(path)
    return text[text.rindex(")") + 2:].split()  # fields from 3 (state) on


def task_cpu_ns(pid):
    """Per thread: (name, CPU ns) from schedstat, for every live thread of the process."""
    res = {}
    for tid in os.listdir(f"/proc/{pid}/task"):
        try:
            ns = int(read(f"/proc/{pid}/task/{tid}/schedstat").split()[0])
            name = read(f"/proc/{pid}/task/{tid}/comm").strip()
        except OSError:
            continue
        res[tid] = (name, ns)
    return res


def children_ticks(pid):
    f = stat_fields(pid)
    return int(f[13]) + int(f[14])  # cutime + cstime


def own_ticks(pid):
    f = stat_fields(pid)
    return int(f[11]) + int(f[12])


def vm(pid, key):
    m = re.search(rf"^{key}:\s+(\d+) kB", read(f"/proc/{pid}/status"), re.M)
    return int(m.group(1)) if m else 0


def cupsd_pid():
    return int(read(os.path.join(os.environ["ORVO_TESTENV_DIR"], "cupsd.pid")).strip())


def process_cpu_ns(pid):
    return sum(ns for _, ns in task_cpu_ns(pid).values())


def system_busy():
    f = [int(x) for x in read("/proc/stat").splitlines()[0].split()[1:]]
    idle = f[3] + f[4]
    return sum(f), idle


def wait_for(cond, timeout, what):
    end = time.monotonic() + timeout
    while time.monotonic() < end:
        try:
            if cond():
                return True
        except OSError:
            pass
        time.sleep(0.02)
    raise TimeoutError("timed out waiting for " + what)


def percentile(values, p):
    v = sorted(values)
    if not v:
        return float("nan")
    k = (len(v) - 1) * p / 100.0
    lo = int(k)
    hi = min(lo + 1, len(v) - 1)
    return v[lo] + (v[hi] - v[lo]) * (k - lo)


# ---------------------------------------------------------------------------------------------
# The service

class Service:
    def __init__(self, usb_serials, usb_reply):
        self.sim = None
        if usb_serials:
            self.control = os.path.join(WORK, "usb.ctl")
            args = [USBSIM, "--control", self.control]
            for s in usb_serials:
                args += ["--device", f"{MODEL}:{s}"]
            args += ["--reply", usb_reply[7:].hex(), "--", SERVICE]
            self.sim = subprocess.Popen(args)
            wait_for(lambda: self._child(self.sim.pid), 10, "the service under orvo-usb-sim")
            self.pid = self._child(self.sim.pid)
        else:
            self.proc = subprocess.Popen([SERVICE])
            self.pid = self.proc.pid

    @staticmethod
    def _child(pid):
        try:
            kids = read(f"/proc/{pid}/task/{pid}/children").split()
        except OSError:
            return None
        return int(kids[0]) if kids else None

    def usb_ctl(self, line):
        return ctl(self.control, line)

    def stop(self):
        os.kill(self.pid, signal.SIGTERM)
        if self.sim:
            self.sim.wait(timeout=20)
        else:
            self.proc.wait(timeout=20)
        for name in os.listdir(CFG) if os.path.isdir(CFG) else []:
            os.unlink(os.path.join(CFG, name))


def wait_until_steady(watch, net_counters, n_workers, idle, timeout=120):
    """The first iteration of a new worker runs at the pace of an unreachable printer (the shared
    entry says "no status" until the first write-back), so figures start after it: a network
    printer has been polled once more; an idle one is never polled again and asks CUPS only,
    which leaves no trace to wait for, so its first iteration (10 s from the poll that wrote the
    status file) is waited out."""
    if idle:
        time.sleep(11)
        return
    start = [c() for c in net_counters]
    wait_for(lambda: all(c() >= s0 + 1 for c, s0 in zip(net_counters, start)), timeout,
             "the second iteration (the first at the regular pace) of every network printer")


def status_files_ready(names):
    return all(os.path.exists(CFG + n + ".dat") for n in names)


def clean_cfg():
    # The files only: the inotify watch stays on the directory.
    os.makedirs(CFG, exist_ok=True)
    for name in os.listdir(CFG):
        path = os.path.join(CFG, name)
        if os.path.isdir(path) and not os.path.islink(path):
            shutil.rmtree(path)
        else:
            os.unlink(path)


# ---------------------------------------------------------------------------------------------
# 1. Freshness

def freshness(watch):
    log("freshness")
    remove_all_queues()
    clean_cfg()
    os.makedirs(CFG, exist_ok=True)
    a, b = reply_for(1, 40), reply_for(1, 41)
    sim = NetSim("127.0.0.2", a)
    add_queue("FreshNet", "socket://127.0.0.2:9100/?snmp=false")
    add_queue("FreshUsb", f"usb://Orvo/{MODEL}?serial=FRESH00001")
    svc = Service(["FRESH00001"], a)
    wait_for(lambda: status_files_ready(["FreshNet", "FreshUsb"]), 30, "first status files")
    wait_until_steady(watch, [sim.requests], 1, False)

    results = {}

    def measure(kind, path, setter, content_of):
        lat = []
        arrived = threading.Event()
        expected = [None]

        def on_write(name, now):
            if name == os.path.basename(path) and expected[0] is not None:
                try:
                    with open(path, "rb") as f:
                        if f.read() == expected[0]:
                            arrived.stamp = now
                            arrived.set()
                except OSError:
                    pass

        watch.listeners.append(on_write)
        current = a
        for _ in range(CHANGES):
            time.sleep(random.uniform(0.2, 1.2))  # a random phase against the worker's cycle
            current = b if current is a else a
            arrived.clear()
            expected[0] = content_of(current)
            t0 = time.monotonic()
            setter(current)
            if not arrived.wait(15):
                lat.append(float("inf"))
                continue
            lat.append(arrived.stamp - t0)
        watch.listeners.remove(on_write)
        results[kind] = lat

    t_net = threading.Thread(target=measure, args=("network", CFG + "FreshNet.dat", sim.set_reply,
                                                   lambda r: r))
    t_usb = threading.Thread(target=measure, args=(
        "USB", CFG + "FreshUsb.dat", lambda r: svc.usb_ctl("set-reply 0 " + r[7:].hex()),
        usb_file_content))
    t_net.start()
    t_usb.start()
    t_net.join()
    t_usb.join()
    svc.stop()
    sim.stop()

    out("## Freshness: reply changed at the printer -> status file holds it")
    out()
    out(f"{CHANGES} changes per printer, one network printer (status 4, polled every iteration) and "
        "one emulated USB printer watched together; the change is made at a random phase of the "
        "worker's cycle, the arrival is the inotify close-after-write of the file with the new bytes.")
    out()
    out("| printer | p50 | p90 | p99 | max | goal (p99) |")
    out("|---|---|---|---|---|---|")
    for kind, goal in (("network", 1.5), ("USB", 2.5)):
        lat = results[kind]
        out(f"| {kind} | {percentile(lat, 50):.3f} s | {percentile(lat, 90):.3f} s | "
            f"{percentile(lat, 99):.3f} s | {max(lat):.3f} s | <= {goal} s |")
    out()
    return results


# ---------------------------------------------------------------------------------------------
# 2. Cost per printer, against a shell loop of the same commands

BASELINE_SH = r"""
# The prescribed work without the service: the same CUPS commands at the same pace, from bash.
# Output goes to the same cfg files (counted the same way); bash's own "read -t" is the sleep.
end=$1; shift
cfg=/opt/orvo/q70_series_printer/cfg/
exec {fd}<> <(:)
nap() { read -r -t "$1" -u "$fd" _ || true; }
over() { [[ ${EPOCHREALTIME/./} -ge $end ]]; }
# WRAP=sh: each command through "/bin/sh -c", the way the service starts them.
tool() { if [[ -n $WRAP ]]; then /bin/sh -c "$1"; else eval "$1"; fi; }
devices() { while ! over; do tool "lpstat -v > ${cfg}printerlist.base"; nap 3; done; }
jobs_loop() { # INDEX QUEUE WAIT
    while ! over; do
        for i in 1 2 3 4 5 6 7 8 9 10; do
            tool "lpstat -u \"$USER_NAME\" -W all -l -o \"$2\" > ${cfg}printjob_$1.tmp"
            nap "$3"
        done
    done
}
idle_loop() { # INDEX QUEUE
    while ! over; do tool "lpstat -p \"$2\"> ${cfg}printer_$1.tmp"; nap 0.1; done
}
devices &
k=0
for spec in "$@"; do
    kind=${spec%%:*}; q=${spec#*:}
    case $kind in
    usb) jobs_loop "$k" "$q" 0.15 & ;;
    net) jobs_loop "$k" "$q" 0.1 & ;;
    idle) idle_loop "$k" "$q" & ;;
    esac
    k=$((k + 1))
done
wait
"""


def run_baseline(specs, seconds, watch, wrap=False):
    path = os.path.join(WORK, "baseline.sh")
    with open(path, "w") as f:
        f.write(BASELINE_SH)
    c0 = process_cpu_ns(cupsd_pid())
    w0 = watch.snapshot()
    t0 = time.monotonic()
    end_us = int((time.time() + seconds) * 1e6)
    proc = subprocess.Popen(["bash", path, str(end_us)] + specs,
                            env=dict(os.environ, LC_ALL="C", USER_NAME=USER,
                                     WRAP="sh" if wrap else ""))
    _, status, ru = os.wait4(proc.pid, 0)
    proc.returncode = status
    t1 = time.monotonic()
    c1 = process_cpu_ns(cupsd_pid())
    kinds, _ = tool_runs(w0, watch.snapshot())
    return {"wall": t1 - t0, "own+children": ru.ru_utime + ru.ru_stime,
            "cupsd": (c1 - c0) / 1e9, "runs": sum(kinds.values())}


def measure_service(svc, seconds, watch):
    pid = svc.pid
    t0s = task_cpu_ns(pid)
    ch0 = children_ticks(pid)
    c0 = process_cpu_ns(cupsd_pid())
    sim0 = own_ticks(svc.sim.pid) if svc.sim else 0
    w0 = watch.snapshot()
    t0 = time.monotonic()
    time.sleep(seconds)
    t1 = time.monotonic()
    t1s = task_cpu_ns(pid)
    ch1 = children_ticks(pid)
    c1 = process_cpu_ns(cupsd_pid())
    sim1 = own_ticks(svc.sim.pid) if svc.sim else 0
    kinds, per_worker = tool_runs(w0, watch.snapshot())
    threads = {}
    for tid, (name, ns) in t1s.items():
        threads[name] = threads.get(name, 0) + (ns - t0s.get(tid, (name, 0))[1]) / 1e9
    return {"wall": t1 - t0, "own": sum(threads.values()), "threads": threads,
            "children": (ch1 - ch0) / TICK, "cupsd": (c1 - c0) / 1e9, "kinds": kinds,
            "runs": sum(kinds.values()), "per_worker": per_worker,
            "rss": vm(pid, "VmRSS"), "hwm": vm(pid, "VmHWM"),
            "usbsim": (sim1 - sim0) / TICK}


def make_history(queue, total):
    """Makes `queue` (a usb queue at that moment) hold `total` finished jobs: the test backend
    completes every job at once while its release file exists."""
    def finished():
        res = run(["lpstat", "-W", "completed", "-o", queue], check=False)
        return len(res.stdout.splitlines())
    have = finished()
    if have >= total:
        return have
    release = os.path.join(USB_CTL, "usb-release")
    with open(release, "w") as f:
        f.write("0\n")
    job = os.path.join(WORK, "history.txt")
    with open(job, "w") as f:
        f.write("finished job\n")
    for _ in range(total - have):
        run(["lp", "-d", queue, "-o", "raw", job], check=False)
    wait_for(lambda: finished() >= total, 600, f"{total} finished jobs on {queue}")
    os.unlink(release)
    return finished()


def measure_pair(label, n, kinds_for_baseline, names, sims, serials, reply, code, watch):
    """The service, then the shell loop of the tool path, on the same queues and CUPS state."""
    svc = Service(serials, reply)
    wait_for(lambda: status_files_ready(names), 40, "status files")
    if sims or code == 0:
        wait_until_steady(watch, [sim.requests for sim in sims], len(sims), code == 0)
    time.sleep(WARMUP_S)
    m = measure_service(svc, WINDOW_S, watch)
    svc.stop()
    b = run_baseline(kinds_for_baseline, WINDOW_S, watch)
    return m, b


def cost(watch):
    rows = []
    remove_all_queues()
    clean_cfg()
    # One queue whose device URI changes between the configurations, so that its history of
    # finished jobs (CUPS keeps 500 at most) serves all of them.
    add_queue("P0", f"usb://Orvo/{MODEL}?serial=HISTORY001")
    for history in HISTORIES:
        run(["lpadmin", "-p", "P0", "-v", f"usb://Orvo/{MODEL}?serial=HISTORY001"])
        finished = make_history("P0", history)
        for label, kind in [("1 network (status 4)", "net"), ("1 network, idle (status 3)", "idle"),
                            ("1 USB", "usb")]:
            log(f"cost: {label}, {finished} finished jobs")
            clean_cfg()
            code = 0 if kind == "idle" else 1
            reply = reply_for(code, 50)
            sims, serials = [], []
            if kind == "usb":
                serials = ["COST000000"]
                run(["lpadmin", "-p", "P0", "-v", f"usb://Orvo/{MODEL}?serial=COST000000"])
            else:
                sims = [NetSim("127.0.0.10", reply)]
                run(["lpadmin", "-p", "P0", "-v", "socket://127.0.0.10:9100/?snmp=false"])
            m, b = measure_pair(label, 1, [f"{kind}:P0"], ["P0"], sims, serials, reply, code,
                                watch)
            for sim in sims:
                sim.stop()
            rows.append((label, 1, finished, m, b))
    for label, n_net, n_usb in [("4 = 2 network + 2 USB", 2, 2), ("8 = 4 network + 4 USB", 4, 4)]:
        log("cost:", label)
        remove_all_queues()
        clean_cfg()
        reply = reply_for(1, 50)
        sims = [NetSim(f"127.0.0.{10 + i}", reply) for i in range(n_net)]
        for i in range(n_net):
            add_queue(f"N{i}", f"socket://127.0.0.{10 + i}:9100/?snmp=false")
        serials = [f"COST{i:06d}" for i in range(n_usb)]
        for i, ser in enumerate(serials):
            add_queue(f"U{i}", f"usb://Orvo/{MODEL}?serial={ser}")
        names = queues()
        specs = [("usb:" if q.startswith("U") else "net:") + q for q in names]
        m, b = measure_pair(label, n_net + n_usb, specs, names, sims, serials, reply, 1, watch)
        for sim in sims:
            sim.stop()
        rows.append((label, n_net + n_usb, 0, m, b))

    out("## Cost per printer: the service against the tool path, side by side")
    out()
    out(f"Each row: a fresh service, {WARMUP_S} s warm-up after its first regular iteration, a "
        f"{WINDOW_S} s window; then, on the same queues and CUPS state, the tool path as a bash "
        "loop of exactly the commands the service ran before it asked CUPS in process (`lpstat -v` "
        "every 3 s; per printer ten `lpstat -u USER -W all -l -o Q` per iteration, 150 ms (USB) or "
        "100 ms (network) apart; for an idle network printer `lpstat -p Q` every 100 ms), without "
        "the status polls, for another window. CPU time, not wall time, as a share of one core: "
        "the service's own threads (schedstat), its children (cutime+cstime: only `cancel` is "
        "left), cupsd (schedstat); the loop's bash and tools (rusage), cupsd. \"finished\" is "
        "the number of finished jobs in the watched queue's history. USB printers are emulated "
        "with umockdev (orvo-usb-sim), whose preload runs inside the service: libusb busy-polls "
        "a pending emulated transfer, so the service's own CPU of a USB printer carries emulation "
        "cost a real device does not have; orvo-usb-sim's own process is listed apart.")
    out()
    out("| printers | finished | service own | children | cupsd | service total | per printer "
        "| tool path (bash + tools) | cupsd | tool path total | tool path / service | usb-sim | "
        "VmRSS |")
    out("|---|---|---|---|---|---|---|---|---|---|---|---|---|")
    for label, n, finished, m, b in rows:
        w, bw = m["wall"], b["wall"]
        st = (m["own"] + m["children"] + m["cupsd"]) / w
        bt = (b["own+children"] + b["cupsd"]) / bw
        out(f"| {label} | {finished} | {100 * m['own'] / w:.2f} % | "
            f"{100 * m['children'] / w:.2f} % | {100 * m['cupsd'] / w:.2f} % | {100 * st:.2f} % | "
            f"{100 * st / n:.2f} % | {100 * b['own+children'] / bw:.1f} % | "
            f"{100 * b['cupsd'] / bw:.1f} % | {100 * bt:.1f} % | "
            f"{bt / st if st else float('nan'):.0f} x | {100 * m['usbsim'] / w:.1f} % | "
            f"{m['rss'] / 1024:.1f} MB |")
    out()
    out("Goals: total (own + children + cupsd) <= 0.5 % of a core per watched printer and at least "
        "ten times below the tool path; the service's own CPU <= 0.15 % per printer; VmRSS <= 30 MB "
        "with 8 printers.")
    out()
    out("Own CPU by thread (share of one core over the window):")
    out()
    for label, _, finished, m, _ in rows:
        w = m["wall"]
        parts = ", ".join(f"{k} {100 * v / w:.3f} %" for k, v in sorted(m["threads"].items())
                          if v > 0)
        out(f"- {label}, {finished} finished: {parts}")
    out()


def questions():
    """CPU per question, both ways, with the history sizes of the cost table."""
    remove_all_queues()
    clean_cfg()
    add_queue("Q0", f"usb://Orvo/{MODEL}?serial=QUESTION01")
    results = []
    for history in HISTORIES:
        finished = make_history("Q0", history)
        log(f"questions: {finished} finished jobs")
        res = run([BENCH_QUESTIONS, "Q0", "100" if QUICK else "400"])
        results.append((finished, res.stdout.rstrip()))
    out("## Cost of one question to CUPS")
    out()
    out("`bench_cups_questions Q0 N`: the same question asked N times in process over IPP (the "
        "worker's kept connection, and a new connection per question) and N/4 times as the tool "
        "run it replaced (spawned without a shell, output into a file that is read and removed). "
        "Client CPU: this process (in process) or its children (tool); cupsd CPU from its "
        "schedstat. Milliseconds of CPU per question; the job list asks for the queue's "
        "unfinished jobs (one here), the tool for all of its jobs. The last two rows ask at the "
        "job watch's pace, one question every 100 ms (N/4 of them): there each question also "
        "pays a wake-up of this process and of cupsd, which is what a watched printer costs ten "
        "times a second; the sleep alone is this process's wake-up without a question.")
    for finished, table in results:
        out()
        out(f"{finished} finished jobs in the queue's history:")
        out()
        out(table)
    out()


# ---------------------------------------------------------------------------------------------
# 3. How many network printers before the polls slip

def scaling(watch):
    steps = [(8, 1), (16, 1), (32, 1), (64, 1), (64, 0)]
    if QUICK:
        steps = [(8, 1), (64, 1), (64, 0)]
    rows = []
    for n, code in steps:
        log(f"scaling: {n} network printers, status code {code}")
        remove_all_queues()
        clean_cfg()
        os.makedirs(CFG, exist_ok=True)
        reply = reply_for(code, 50)
        addrs = [f"127.0.1.{10 + i}" for i in range(n)]
        responder = Responder(addrs, reply)
        for i, a in enumerate(addrs):
            add_queue(f"S{i:02d}", f"socket://{a}:9100/?snmp=false")
        svc = Service([], reply)
        wait_for(lambda: status_files_ready([f"S{i:02d}" for i in range(n)]), 120, "status files")
        wait_until_steady(watch, [lambda a=a: responder.counts[a] for a in addrs], n, code == 0,
                          timeout=180)
        time.sleep(WARMUP_S)
        polls0 = dict(responder.counts)
        busy0 = system_busy()
        m = measure_service(svc, WINDOW_S, watch)
        busy1 = system_busy()
        polls1 = dict(responder.counts)
        svc.stop()
        responder.stop()
        w = m["wall"]
        polls = [polls1[a] - polls0[a] for a in addrs]
        intervals = [w / p if p else float("inf") for p in polls]
        total = busy1[0] - busy0[0]
        util = 1.0 - (busy1[1] - busy0[1]) / total if total else float("nan")
        rows.append((n, code, intervals, m, util))

    out("## How many printers one machine watches before the polls slip")
    out()
    out(f"Network printers only (one responder thread answers them all), {WINDOW_S} s window each. "
        "Status code 1 (status 4): every iteration polls, prescribed poll interval 1000 ms (an "
        "iteration is the poll plus ten job-watch passes 100 ms apart). Status code 0 (status 3, "
        "idle): no poll, one question to CUPS about every 100 ms, which leaves no trace to count, "
        "so no interval. Achieved = window / polls, per printer. Service + cupsd is CPU time as a "
        "share of one core; machine busy counts everything, the other engineers' work included.")
    out()
    out("| printers | status | achieved interval p50 | worst | own CPU | children | cupsd "
        "| service + cupsd | machine busy |")
    out("|---|---|---|---|---|---|---|---|---|")
    for n, code, intervals, m, util in rows:
        w = m["wall"]
        if code == 0:
            p50 = worst = "-"
            label = "3 (idle)"
        else:
            p50 = f"{percentile(intervals, 50):.2f} s"
            worst = f"{max(intervals):.2f} s"
            label = "4"
        total = m["own"] + m["children"] + m["cupsd"]
        out(f"| {n} | {label} | {p50} | {worst} | {100 * m['own'] / w:.1f} % | "
            f"{100 * m['children'] / w:.1f} % | {100 * m['cupsd'] / w:.1f} % | "
            f"{100 * total / w:.1f} % | {100 * util:.0f} % of {os.cpu_count()} cores |")
    out()


# ---------------------------------------------------------------------------------------------
# 4. Discovery with 200 queues

def discovery():
    log("discovery: 200 queues")
    remove_all_queues()
    clean_cfg()
    for i in range(200):
        if i % 2:
            add_queue(f"D{i:03d}", f"socket://127.0.{2 + i // 250}.{i % 250 + 1}:9100")
        else:
            add_queue(f"D{i:03d}", f"usb://Orvo/{MODEL}?serial=D{i:09d}")
    res = run([BENCH_DISCOVERY, "10" if QUICK else "30"])
    out("## One device-manager cycle with 200 queues")
    out()
    out("`bench_discovery` (heartbeat, CUPS-Get-Printers in process, one PPD read per queue, comparison, "
        "unforced list write) against 200 Orvo queues (100 USB, 100 socket) in the private "
        "scheduler. Goal: the service's own CPU <= 50 ms per cycle.")
    out()
    out("```")
    out(res.stdout.rstrip())
    out("```")
    out()


def main():
    configure(sys.argv[1], sys.argv[2], sys.argv[3], "--quick" in sys.argv[4:])
    os.makedirs(WORK, exist_ok=True)
    watch_dir = CFG.rstrip("/")
    os.makedirs(watch_dir, exist_ok=True)
    watch = Watch(watch_dir)
    started = time.monotonic()
    try:
        freshness(watch)
        questions()
        cost(watch)
        scaling(watch)
        discovery()
    finally:
        out(f"Benchmark run time: {time.monotonic() - started:.0f} s.")
        with open(OUT, "w") as f:
            f.write("\n".join(report) + "\n")


if __name__ == "__main__":
    main()
