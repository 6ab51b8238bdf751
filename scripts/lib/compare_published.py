#!/usr/bin/env python3
"""Runs two builds of orvo-statusd, one after the other, against the same scripted printers and
compares what each published in its cfg directory. Started by scripts/compare-published inside
scripts/testenv/orvo-testenv.

    compare_published.py SOURCE_DIR USB_SIM SERVICE_A SERVICE_B

At each step of the script both runs must leave the same files: printerlist.ini and every
<queue>.dat byte for byte, the heartbeat's stamp in the same format (its digits differ by
nature). With COMPARE_PUBLISHED_KEEP=DIR the files of each step are kept in DIR/A/N and DIR/B/N.
Exit status 0 when they agree, 1 when they differ, 2 when a run could not be made.
"""

import difflib
import os
import re
import shutil
import socket
import subprocess
import sys
import time

SRC, USBSIM, SERVICES = sys.argv[1], sys.argv[2], sys.argv[3:5]
SIM = os.path.join(SRC, "tests/doubles/printersim/orvo-printer-sim")
CFG = "/opt/orvo/q70_series_printer/cfg/"
WORK = os.path.join(os.environ.get("ORVO_TESTENV_DIR", "/run/orvo-testenv"), "compare")
LIST = "printerlist.ini"
HEARTBEAT = "service.hb"
MODEL = "Q7020DN"
# Every step ends once each answering printer was asked this many times after the step began,
# so each status file holds the answer to the step's replies whatever the pace of a build.
POLLS_PER_STEP = 3
STEP_TIMEOUT_S = 60


def log(*args):
    print(time.strftime("%H:%M:%S"), *args, file=sys.stderr, flush=True)


def run(cmd, check=True):
    return subprocess.run(cmd, check=check, stdout=subprocess.PIPE, stderr=subprocess.PIPE,
                          text=True, env=dict(os.environ, LC_ALL="C"))


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


def ctl(path, line):
    with socket.socket(socket.AF_UNIX, socket.SOCK_STREAM) as s:
        s.settimeout(5)
        s.connect(path)
        s.sendall((line + "\n").encode())
        data = b""
        while True:
            part = s.recv(4096)
            if not part:
                return data.decode().strip()
            data += part


def build_reply(text):
    path = os.path.join(WORK, "reply.conf")
    with open(path, "w", encoding="utf-8") as f:
        f.write(text)
    return bytes.fromhex(run(["python3", SIM, "build", path]).stdout.strip())


def reply(code, toner, errors1="", errors2="", text="Ready"):
    return build_reply(f"info1 = Orvo {MODEL}\ninfo2 = Büro Süd\ninfo3 = FW 1.0.0\n"
                       f"status_code = {code}\nstatus_text = {text}\n"
                       f"errors1 = {errors1}\nerrors2 = {errors2}\n"
                       f"supply = 0x0000:text:Toner {toner}%\nsupply = 0x0001:1\n"
                       f"supply = 0x1000:{toner}\nsupply = 0x1101:70000\n")


# The scripted printers: queue name -> (URI, first reply, reply after the change). A network
# printer without replies never answers; the USB printer is served by orvo-usb-sim.
NET = {"Lager": "127.0.0.2", "Büro-2": "127.0.0.3", "Keller;&$": "127.0.0.4"}
USB_QUEUE, USB_SERIAL = "Usb-Drucker", "CMP0000001"
SILENT_QUEUE = "Aus"


def scripted_replies():
    return {
        "Lager": (reply(1, 80), reply(17, 79, text="Printing")),
        "Büro-2": (reply(2, 9, errors2="0x1301"), reply(3, 9, errors1="0x110D", text="Jam")),
        "Keller;&$": (reply(1, 100), reply(1, 250)),
        USB_QUEUE: (reply(1, 55), reply(3, 0, errors1="0x1201,0x1001", text="Toner")),
    }


class NetSim:
    def __init__(self, address, first):
        self.control = os.path.join(WORK, f"net-{address}.ctl")
        ready = os.path.join(WORK, f"net-{address}.ready")
        for path in (self.control, ready):
            if os.path.exists(path):
                os.unlink(path)
        self.proc = subprocess.Popen(["python3", SIM, "serve", "--address", address,
                                      "--tcp-port", "-1", "--reply-hex", first.hex(),
                                      "--control", self.control, "--ready", ready],
                                     stdout=subprocess.DEVNULL)
        wait_for(lambda: os.path.exists(ready), 10, f"the simulator at {address}")

    def requests(self):
        m = re.search(r"requests (\d+)", ctl(self.control, "count"))
        return int(m.group(1)) if m else -1

    def set_reply(self, data):
        ctl(self.control, "set-reply-hex " + data.hex())

    def stop(self):
        self.proc.terminate()
        self.proc.wait()


def child_of(pid):
    try:
        with open(f"/proc/{pid}/task/{pid}/children") as f:
            kids = f.read().split()
    except OSError:
        return None
    return int(kids[0]) if kids else None


def clean_cfg():
    os.makedirs(CFG, exist_ok=True)
    for name in os.listdir(CFG):
        path = os.path.join(CFG, name)
        if os.path.isdir(path) and not os.path.islink(path):
            shutil.rmtree(path)
        else:
            os.unlink(path)


def remove_all_queues():
    for line in run(["lpstat", "-v"], check=False).stdout.splitlines():
        m = re.match(r"device for (.*): ", line)
        if m:
            run(["lpadmin", "-x", m.group(1)], check=False)


def add_queue(name, uri):
    run(["lpadmin", "-p", name, "-E", "-v", uri, "-m", f"Orvo/Orvo_{MODEL}.ppd"])


def snapshot():
    files = {}
    for name in sorted(os.listdir(CFG)):
        path = os.path.join(CFG, name)
        if os.path.isfile(path):
            with open(path, "rb") as f:
                files[name] = f.read()
    return files


def one_run(service, replies):
    """The scripted steps against one build; a list of (step, files)."""
    log("run", service)
    remove_all_queues()
    clean_cfg()
    sims = {q: NetSim(a, replies[q][0]) for q, a in NET.items()}
    add_queue(USB_QUEUE, f"usb://Orvo/{MODEL}?serial={USB_SERIAL}")
    for queue, address in NET.items():
        add_queue(queue, f"socket://{address}:9100")
    add_queue(SILENT_QUEUE, "socket://127.0.0.9:9100")
    control = os.path.join(WORK, "usb.ctl")
    usb = subprocess.Popen([USBSIM, "--control", control, "--device", f"{MODEL}:{USB_SERIAL}",
                            "--reply", replies[USB_QUEUE][0][7:].hex(), "--", service])
    steps = []
    try:
        wait_for(lambda: child_of(usb.pid), 10, "the service under orvo-usb-sim")

        def usb_polls():
            m = re.search(r"status (\d+)", ctl(control, "count 0"))
            return int(m.group(1)) if m else -1

        def settle(what, asked):
            start = {q: sims[q].requests() for q in asked}
            start_usb = usb_polls()
            wait_for(lambda: all(sims[q].requests() >= start[q] + POLLS_PER_STEP for q in asked)
                     and usb_polls() >= start_usb + POLLS_PER_STEP, STEP_TIMEOUT_S,
                     f"{POLLS_PER_STEP} polls of every printer ({what})")
            wait_for(lambda: os.path.exists(CFG + HEARTBEAT), STEP_TIMEOUT_S, "the heartbeat")
            steps.append((what, snapshot()))

        def listed(count):
            return re.search(rb"^Count=%d$" % count, read(CFG + LIST), re.M) is not None

        queues = len(NET) + 2
        wait_for(lambda: listed(queues), STEP_TIMEOUT_S, f"a printer list of {queues} queues")
        settle("first replies", list(NET))

        for queue, sim in sims.items():
            sim.set_reply(replies[queue][1])
        # A reply cut off inside its error lists: what the service keeps of one that does not decode.
        ctl(sims["Keller;&$"].control, "truncate 60")
        ctl(control, "set-reply 0 " + replies[USB_QUEUE][1][7:].hex())
        settle("changed replies", list(NET))

        # A queue that goes: the list is written again without it and its status file removed.
        run(["lpadmin", "-x", "Lager"])
        wait_for(lambda: listed(queues - 1) and not os.path.exists(CFG + "Lager.dat"),
                 STEP_TIMEOUT_S, "Lager to leave the list")
        settle("a queue removed", [q for q in NET if q != "Lager"])
    finally:
        pid = child_of(usb.pid)
        if pid:
            os.kill(pid, 15)
        usb.wait(timeout=30)
        for sim in sims.values():
            sim.stop()
    return steps


def read(path):
    with open(path, "rb") as f:
        return f.read()


def stamp_format(data):
    return re.sub(rb"[0-9]", b"9", data)


def compare(a, b):
    """Differences between the files two runs left after one step, as lines."""
    out = []
    for name in sorted(set(a) | set(b)):
        if name not in a or name not in b:
            out.append(f"{name}: only after run {'A' if name in a else 'B'}")
            continue
        x, y = a[name], b[name]
        if name == HEARTBEAT:
            if stamp_format(x) != stamp_format(y):
                out.append(f"{name}: format differs: {x!r} against {y!r}")
            continue
        if x == y:
            continue
        if name == LIST:
            out.append(f"{name} differs:")
            out += ["    " + line for line in difflib.unified_diff(
                x.decode("utf-8", "replace").splitlines(), y.decode("utf-8", "replace").splitlines(),
                "A", "B", lineterm="")]
            continue
        first = next((i for i in range(min(len(x), len(y))) if x[i] != y[i]), min(len(x), len(y)))
        out.append(f"{name}: {len(x)} bytes against {len(y)}, first difference at byte {first}: "
                   f"{x[first:first + 8].hex()} against {y[first:first + 8].hex()}")
    return out


def main():
    os.makedirs(WORK, exist_ok=True)
    replies = scripted_replies()
    try:
        runs = [one_run(service, replies) for service in SERVICES]
    except (TimeoutError, subprocess.CalledProcessError, OSError) as error:
        log("no comparison:", error)
        return 2
    keep = os.environ.get("COMPARE_PUBLISHED_KEEP")
    if keep:
        for label, steps in zip("AB", runs):
            for number, (_, files) in enumerate(steps, 1):
                folder = os.path.join(keep, label, str(number))
                os.makedirs(folder, exist_ok=True)
                for name, data in files.items():
                    with open(os.path.join(folder, name), "wb") as f:
                        f.write(data)
    differ = False
    for (step, a), (_, b) in zip(*runs):
        problems = compare(a, b)
        names = ", ".join(f"{n} ({len(a[n])} B)" for n in a)
        print(f"{step}: {'DIFFERENT' if problems else 'identical'}: {names}")
        for line in problems:
            print("  " + line)
        differ = differ or bool(problems)
    stamps = [steps[-1][1].get(HEARTBEAT, b"") for steps in runs]
    print(f"heartbeat: A {stamps[0].decode('latin-1')!r}, B {stamps[1].decode('latin-1')!r}")
    return 1 if differ else 0


if __name__ == "__main__":
    sys.exit(main())
