#!/usr/bin/env python3
"""The soak run itself, inside scripts/testenv/orvo-testenv; started by bench/soak.sh.

    soak_run.py SOURCE_DIR BUILD_DIR MINUTES OUT.md [LEAKCHECK_SO]

Four printers (2 simulated network, 2 emulated USB) watched by the service for MINUTES, with
changes all the time: replies every 10 s; every minute a network printer goes silent long
enough to be given up, a USB printer is unplugged and plugged back, and a job on each kind of
queue is printed and cancelled by its owner. Samples every 10 s: VmRSS, open descriptors,
threads, temporary files in the cfg directory. At the end, a leak check (ASan build with
LEAKCHECK_SO preloaded: SIGUSR2 runs LeakSanitizer inside the living service).
"""

import os
import re
import signal
import socket
import statistics
import subprocess
import sys
import time

SRC, BUILD, MINUTES, OUT = sys.argv[1], sys.argv[2], float(sys.argv[3]), sys.argv[4]
LEAKCHECK = sys.argv[5] if len(sys.argv) > 5 else ""
SIM = os.path.join(SRC, "tests/doubles/printersim/orvo-printer-sim")
USBSIM = os.path.join(BUILD, "tests/doubles/usbsim/orvo-usb-sim")
SERVICE = os.path.join(BUILD, "orvo-statusd")
CFG = "/opt/orvo/q70_series_printer/cfg/"
WORK = os.path.join(os.environ.get("ORVO_TESTENV_DIR", "/run/orvo-testenv"), "soak")
MODEL = "Q7020DN"
SAMPLE_S = 10
# Files the service keeps in the cfg directory; everything else there is a tool's output file,
# which lives only while its tool runs.
KEPT = re.compile(r"(.*\.dat|printerlist\.ini|service\.hb)$")


def log(*args):
    print(time.strftime("%H:%M:%S"), *args, file=sys.stderr, flush=True)


def run(cmd, check=False, **kw):
    return subprocess.run(cmd, check=check, stdout=subprocess.PIPE, stderr=subprocess.PIPE,
                          text=True, env=dict(os.environ, LC_ALL="C"), **kw)


def read(path):
    with open(path) as f:
        return f.read()


def ctl(path, line):
    s = socket.socket(socket.AF_UNIX, socket.SOCK_STREAM)
    s.settimeout(5)
    s.connect(path)
    s.sendall((line + "\n").encode())
    data = b""
    while part := s.recv(4096):
        data += part
    s.close()
    return data.decode().strip()


def wait_for(cond, timeout, what):
    end = time.monotonic() + timeout
    while time.monotonic() < end:
        try:
            if cond():
                return
        except OSError:
            pass
        time.sleep(0.05)
    raise TimeoutError("timed out waiting for " + what)


def reply(code, toner):
    path = os.path.join(WORK, "reply.conf")
    with open(path, "w") as f:
        f.write(f"info1 = Orvo {MODEL}\ninfo2 = Soak\ninfo3 = FW 1.0.0\nstatus_code = {code}\n"
                f"status_text = Soak {toner}\nsupply = 0x0000:text:Toner {toner}%\n"
                f"supply = 0x1000:{toner}\n")
    return bytes.fromhex(run(["python3", SIM, "build", path], check=True).stdout.strip())


def submit(queue):
    res = run(["lp", "-d", queue, "-o", "raw"], input="soak page\n" * 200)
    m = re.search(r"request id is (\S+)", res.stdout)
    return m.group(1) if m else None


def main():
    os.makedirs(WORK, exist_ok=True)
    os.makedirs(CFG, exist_ok=True)
    replies = [reply(1, 60), reply(1, 61), reply(2, 62), reply(0, 63)]
    sims = {}
    for name, addr in (("N1", "127.0.0.2"), ("N2", "127.0.0.3")):
        control = os.path.join(WORK, name + ".ctl")
        ready = os.path.join(WORK, name + ".ready")
        sims[name] = (subprocess.Popen(["python3", SIM, "serve", "--address", addr, "--speed",
                                        "4000", "--reply-hex", replies[0].hex(), "--control",
                                        control, "--ready", ready], stdout=subprocess.DEVNULL),
                      control)
        wait_for(lambda: os.path.exists(ready), 10, name + " simulator")
        run(["lpadmin", "-p", name, "-E", "-v", f"socket://{addr}:9100/?snmp=false", "-m",
             f"Orvo/Orvo_{MODEL}.ppd"], check=True)
    serials = ["SOAK000001", "SOAK000002"]
    for i, s in enumerate(serials):
        run(["lpadmin", "-p", f"U{i + 1}", "-E", "-v", f"usb://Orvo/{MODEL}?serial={s}", "-m",
             f"Orvo/Orvo_{MODEL}.ppd"], check=True)

    usb_ctl = os.path.join(WORK, "usb.ctl")
    args = [USBSIM, "--control", usb_ctl]
    for s in serials:
        args += ["--device", f"{MODEL}:{s}"]
    asan = bool(LEAKCHECK)
    env = dict(os.environ)
    if asan:
        libasan = run(["gcc", "-print-file-name=libasan.so"], check=True).stdout.strip()
        args += ["--preload-first", f"{libasan}:{LEAKCHECK}"]
        # A small quarantine: the default 256 MB would hide any growth of the service's own.
        env["ASAN_OPTIONS"] = "detect_leaks=1:quarantine_size_mb=8:abort_on_error=0"
        env["LSAN_OPTIONS"] = f"suppressions={SRC}/tests/lsan.supp:print_suppressions=1"
        env["UBSAN_OPTIONS"] = "print_stacktrace=1"
    args += ["--reply", replies[0][7:].hex(), "--", SERVICE]
    stderr_path = os.path.join(WORK, "service.stderr")
    err = open(stderr_path, "w")
    sim = subprocess.Popen(args, env=env, stderr=err)

    def service_pid():
        kids = read(f"/proc/{sim.pid}/task/{sim.pid}/children").split()
        return int(kids[0]) if kids else None

    wait_for(service_pid, 10, "the service")
    pid = service_pid()
    try:
        wait_for(lambda: all(os.path.exists(CFG + q + ".dat") for q in ("N1", "N2", "U1", "U2")),
                 60, "the first status files")
    except TimeoutError:
        err.flush()
        print(read(stderr_path)[-3000:], os.listdir(CFG), file=sys.stderr)
        raise
    log("service", pid, "running")

    start = time.monotonic()
    end = start + MINUTES * 60
    warmup = min(60.0, MINUTES * 60 / 5)
    samples = []  # (t, rss kB, fds, threads)
    temp_seen = {}  # name -> (inode, mtime, first seen t, last seen t)
    stray = set()
    events = {"reply changes": 0, "network printer given up": 0, "USB unplug/plug": 0,
              "jobs printed and cancelled": 0}
    next_sample = start
    next_reply = start + 10
    next_minute = start + 20
    phase = 0
    pending = []
    silent_until = None
    plug_at = None
    cancel_at = None

    while time.monotonic() < end:
        now = time.monotonic()
        if sim.poll() is not None:
            raise RuntimeError(f"the service ended during the soak (status {sim.returncode})")
        if now >= next_sample:
            next_sample += SAMPLE_S
            rss = int(re.search(r"VmRSS:\s+(\d+)", read(f"/proc/{pid}/status")).group(1))
            fds = len(os.listdir(f"/proc/{pid}/fd"))
            threads = len(os.listdir(f"/proc/{pid}/task"))
            samples.append((now - start, rss, fds, threads))
            for name in os.listdir(CFG):
                if KEPT.match(name):
                    continue
                try:
                    st = os.stat(CFG + name)
                except FileNotFoundError:
                    continue
                key = (st.st_ino, st.st_mtime_ns)
                old = temp_seen.get(name)
                if old and old[0] == key:
                    # The same file, untouched, two samples (10 s) apart: nobody is using it.
                    stray.add(name)
                temp_seen[name] = (key, now)
        if now >= next_reply:
            next_reply += 10
            phase += 1
            r = replies[phase % len(replies)]
            for name, (_, control) in sims.items():
                if name != "N2" or silent_until is None:
                    ctl(control, "set-reply-hex " + r.hex())
            for i in range(2):
                ctl(usb_ctl, f"set-reply {i} {r[7:].hex()}")
            events["reply changes"] += 1
        if now >= next_minute:
            next_minute += 60
            # N2 silent until given up (six failed polls), then back.
            ctl(sims["N2"][1], "silent")
            silent_until = now + 12
            ctl(usb_ctl, "unplug 1")
            plug_at = now + 5
            for q in ("N1", "U1"):
                job = submit(q)
                if job:
                    pending.append(job)
            cancel_at = now + 15
        if silent_until is not None and now >= silent_until:
            ctl(sims["N2"][1], "answer")
            silent_until = None
            events["network printer given up"] += 1
        if plug_at is not None and now >= plug_at:
            ctl(usb_ctl, "plug 1")
            plug_at = None
            events["USB unplug/plug"] += 1
        if cancel_at is not None and now >= cancel_at:
            for job in pending:
                run(["cancel", job])
                events["jobs printed and cancelled"] += 1
            pending = []
            cancel_at = None
        time.sleep(0.2)

    run(["cancel", "-a"])
    log("soak over; leak check" if asan else "soak over")
    leak_lines = []
    asan_errors = []
    if asan:
        os.kill(pid, signal.SIGUSR2)
        try:
            sim.wait(timeout=300)
        except subprocess.TimeoutExpired:
            os.kill(pid, signal.SIGKILL)
            sim.wait()
    else:
        os.kill(pid, signal.SIGTERM)
        sim.wait(timeout=30)
    err.close()
    text = read(stderr_path)
    # Only the service's own reports: the shell and the CUPS tools it starts inherit the ASan
    # runtime through LD_PRELOAD and report their own leaks at their exit.
    own = f"=={pid}=="
    for line in text.splitlines():
        if own in line and "ERROR: AddressSanitizer" in line:
            asan_errors.append(line)
        if "runtime error:" in line:
            asan_errors.append(line)
    m = re.search(r"orvo-soak: leak check\n(.*?)orvo-soak: leak check done: ([A-Za-z ]+)", text,
                  re.S)
    leak_verdict = m.group(2) if m else ("no report" if asan else "not checked (no ASan build)")
    if m:
        block = m.group(1)
        leak_lines = [ln for ln in block.splitlines()
                      if re.match(r"(Direct|Indirect) leak|SUMMARY|    #\d", ln)]

    after = [s for s in samples if s[0] >= warmup]
    rss0 = statistics.median([s[1] for s in after[:3]]) if after else 0
    rss1 = statistics.median([s[1] for s in after[-3:]]) if after else 0
    fds = [s[2] for s in after]
    threads = [s[3] for s in after]
    leftovers = sorted(n for n in os.listdir(CFG) if not KEPT.match(n))

    lines = []
    lines.append("## Soak: " + ("AddressSanitizer build" if asan else "build without sanitizers"))
    lines.append("")
    lines.append(f"`sudo bench/soak.sh {os.path.basename(BUILD.rstrip('/'))} {MINUTES:g}` on "
                 f"{time.strftime('%Y-%m-%d %H:%M')}: {MINUTES:g} minutes, 2 simulated network "
                 "printers and 2 emulated USB printers, "
                 + ("service built with AddressSanitizer+UBSan (quarantine 8 MB). "
                    if asan else "service without sanitizers. ")
                 + ", ".join(f"{k}: {v}" for k, v in events.items()) + ".")
    lines.append("")
    lines.append("| measure | value |")
    lines.append("|---|---|")
    lines.append(f"| leaks (LeakSanitizer in the living service, on SIGUSR2) | {leak_verdict} |")
    lines.append(f"| ASan/UBSan errors in the service | {len(asan_errors)} |")
    lines.append(f"| VmRSS after {warmup:.0f} s warm-up -> end (medians of 3 samples) | "
                 f"{rss0 / 1024:.1f} MB -> {rss1 / 1024:.1f} MB (growth {(rss1 - rss0):+.0f} kB) |")
    if after:
        lines.append(f"| VmRSS min / max after warm-up | {min(s[1] for s in after) / 1024:.1f} MB / "
                     f"{max(s[1] for s in after) / 1024:.1f} MB |")
        lines.append(f"| open descriptors min / max after warm-up | {min(fds)} / {max(fds)} |")
        lines.append(f"| threads min / max | {min(threads)} / {max(threads)} |")
    lines.append(f"| temporary files left untouched for 10 s | {', '.join(sorted(stray)) or 'none'} |")
    lines.append(f"| tool output files in cfg after the process ended | "
                 f"{', '.join(leftovers) or 'none'} (a pass cut off by the end) |")
    lines.append("")
    if leak_lines:
        lines.append("Leak report (first lines):")
        lines.append("")
        lines.append("```")
        lines.extend(leak_lines[:40])
        lines.append("```")
        lines.append("")
    if asan_errors:
        lines.append("Sanitizer errors:")
        lines.append("")
        lines.append("```")
        lines.extend(asan_errors[:20])
        lines.append("```")
        lines.append("")
    lines.append("RSS samples (s: kB): " + ", ".join(f"{s[0]:.0f}: {s[1]}" for s in samples))
    lines.append("")
    with open(OUT, "w") as f:
        f.write("\n".join(lines) + "\n")
    for p, _ in sims.values():
        p.terminate()
    print("\n".join(lines))


if __name__ == "__main__":
    main()
