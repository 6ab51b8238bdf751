#!/bin/bash
# Runs on the host: orvo-testenv must leave no process, mount or file behind, whatever way its
# command ends, must never touch the machine's CUPS or install root, and must hand back the
# command's exit status.
set -uo pipefail

testenv=$(cd "$(dirname "$0")/../../scripts/testenv" && pwd)/orvo-testenv
failures=0
fail() {
    echo "FAIL: $*" >&2
    failures=$((failures + 1))
}
pass() { echo "PASS: $*"; }

# wait_until DESCRIPTION TIMEOUT_S COMMAND...: condition with a deadline.
wait_until() {
    local what=$1 deadline=$((SECONDS + $2))
    shift 2
    until "$@"; do
        if ((SECONDS >= deadline)); then
            echo "timed out waiting for: $what" >&2
            return 1
        fi
        sleep 0.05
    done
}

# No process of the namespace whose inode is $1 (as "pid:[N]") exists any more.
namespace_gone() {
    local link
    for link in /proc/[0-9]*/ns/pid; do
        [[ $(readlink "$link" 2>/dev/null) == "$1" ]] && return 1
    done
    return 0
}

host_state() {
    ls -A /run /opt 2>&1
    ls -A /etc/cups /etc/cups/ppd /usr/lib/cups/backend /usr/share/cups/model 2>&1
    md5sum /etc/cups/* 2>/dev/null
    findmnt -rn -o TARGET | sort
}

# Stands in for a host with its own CUPS, inside the mount namespace the test made for it: a
# /run/cups of its own with a running cupsd on /run/cups/cups.sock and a queue in /etc/cups, and
# a system bus as a booted system has. orvo-testenv started there must see none of it and leave
# all of it as it was.
host_with_cups() {
    local dir=$1 d
    mount -n -t tmpfs host-run /run
    mkdir /run/dbus
    printf '%s\n' '<busconfig><type>system</type>' \
        '<listen>unix:path=/run/dbus/system_bus_socket</listen><auth>EXTERNAL</auth>' \
        '<policy context="default"><allow send_destination="*" eavesdrop="true"/>' \
        '<allow eavesdrop="true"/><allow own="*"/></policy></busconfig>' >"$dir/bus.conf"
    dbus-daemon --nofork --config-file="$dir/bus.conf" </dev/null >/dev/null 2>&1 &
    host_bus=$!
    trap 'kill $host_bus' EXIT
    wait_until "the host's system bus" 10 test -S /run/dbus/system_bus_socket || return 1
    for d in /etc/cups /var/spool/cups /var/cache/cups /var/log/cups; do
        mkdir -p "$dir$d" && mount -n --bind "$dir$d" "$d" || return 1
    done
    mkdir -p /etc/cups/ppd /run/cups
    printf '%s\n' 'Listen /run/cups/cups.sock' 'Browsing No' 'WebInterface No' \
        'DirtyCleanInterval 0' '<Policy default>' '<Limit All>' 'Order deny,allow' '</Limit>' \
        '</Policy>' >/etc/cups/cupsd.conf
    echo 'SystemGroup root' >/etc/cups/cups-files.conf
    echo host >/run/cups/host-marker
    export CUPS_SERVER=/run/cups/cups.sock
    cupsd -f </dev/null >/dev/null 2>&1 &
    host_cupsd=$!
    trap 'kill $host_cupsd $host_bus; wait $host_cupsd' EXIT
    wait_until "the host's cupsd" 10 sh -c 'LC_ALL=C lpstat -r | grep -q "is running"' &&
        lpadmin -p HostQueue -E -v 'socket://127.0.0.1:9100/' &&
        wait_until "the host's printers.conf" 10 test -s /etc/cups/printers.conf || return 1

    local inside
    outer_state() {
        LC_ALL=C lpstat -v
        md5sum /etc/cups/printers.conf
        ls -A /etc/cups/ppd /run/cups
        stat -c %i /run/cups/cups.sock
    }
    local before_outer
    before_outer=$(outer_state)
    inside=$("$testenv" bash -c '
        . "$ORVO_TESTENV_SCRIPTS/lib.sh"
        LC_ALL=C lpstat -v 2>&1
        ls -A /run/cups /etc/cups/ppd
        cat /etc/cups/printers.conf 2>/dev/null
        testenv_add_queue PrivateQueue socket://127.0.0.2:9100/ "Orvo Q7030DN" >/dev/null ||
            echo "cannot add a queue"
        # A cupsd that reached the bus would abort on this name (libdbus wants UTF-8).
        testenv_add_queue "$(printf "H\374-latin1")" socket://127.0.0.2:9100/ "Orvo Q7030DN" \
            >/dev/null || echo "cannot add a queue"
        [[ -e /run/dbus ]] && echo "system bus in sight"
        LC_ALL=C lpstat -v')
    [[ $? == 0 ]] && pass "orvo-testenv runs beside the host's CUPS" ||
        fail "orvo-testenv failed: $inside"
    if grep -q 'HostQueue\|host-marker\|cannot add\|bus in sight' <<<"$inside" ||
        ! grep -q '^device for PrivateQueue' <<<"$inside"; then
        fail "the private CUPS saw the host's: $inside"
    else
        pass "the private CUPS sees nothing of the host's, nor its system bus"
    fi
    [[ $(outer_state) == "$before_outer" ]] && kill -0 $host_cupsd &&
        pass "the host's cupsd, queues and /run/cups unchanged" ||
        fail "the host's CUPS changed: $(diff <(echo "$before_outer") <(outer_state))"
}
if [[ ${1:-} == --host-with-cups ]]; then
    host_with_cups "$2"
    ((failures == 0))
    exit
fi

before=$(host_state)
had_install_root=0
[[ -e /opt/orvo ]] && had_install_root=1

# 1. Exit status and a namespace that vanishes after a normal end.
out=$("$testenv" bash -c '
    set -e
    readlink /proc/self/ns/pid
    . "$ORVO_TESTENV_SCRIPTS/lib.sh"
    testenv_add_queue HostLeakProbe "usb://Orvo/Q7020?serial=1" "Orvo Q7020"
    mkdir -p /opt/orvo/q70_series_printer/cfg
    echo probe >/opt/orvo/q70_series_printer/cfg/probe
    sleep 60 </dev/null >/dev/null 2>&1 &
    exit 7')
status=$?
ns=$(head -n 1 <<<"$out")
[[ $status == 7 ]] && pass "exit status of the command" || fail "exit status $status, expected 7"
[[ $ns == pid:* ]] || fail "no namespace id printed: $out"
wait_until "the namespace's processes to end" 5 namespace_gone "$ns" &&
    pass "no process left after a normal end" || fail "processes of $ns are still running"
[[ ! -e /etc/cups/ppd/HostLeakProbe.ppd ]] && ! grep -qs HostLeakProbe /etc/cups/printers.conf &&
    pass "the host's CUPS never saw the queue" || fail "the queue reached the host's /etc/cups"
if ((!had_install_root)); then
    [[ ! -e /opt/orvo ]] && pass "no install root on the host" || fail "/opt/orvo appeared on the host"
fi

# 2. A command killed by a signal: 128 + signal.
"$testenv" sh -c 'kill -TERM $$'
status=$?
[[ $status == 143 ]] && pass "status of a command killed by SIGTERM" || fail "status $status, expected 143"

# 3. SIGTERM and SIGKILL to orvo-testenv itself end the whole namespace.
for sig in TERM KILL; do
    nsfile=$(mktemp)
    "$testenv" bash -c "readlink /proc/self/ns/pid >$nsfile; exec sleep 60" &
    pid=$!
    if wait_until "the namespace to start" 10 test -s "$nsfile"; then
        ns=$(<"$nsfile")
        kill -"$sig" "$pid"
        wait "$pid" 2>/dev/null
        wait_until "the namespace to end after SIG$sig" 5 namespace_gone "$ns" &&
            pass "SIG$sig to orvo-testenv ends the namespace" ||
            fail "processes of $ns survive SIG$sig"
    else
        fail "orvo-testenv did not start for the SIG$sig case"
        kill -KILL "$pid" 2>/dev/null
    fi
    rm -f "$nsfile"
done

# 4. A host with its own CUPS (in a mount namespace of its own, so the machine's stays out).
hostdir=$(mktemp -d)
unshare -m --propagation private "$0" --host-with-cups "$hostdir" || fail "beside a host's CUPS"
rm -rf "$hostdir"

# 5. Nothing changed on the host.
after=$(host_state)
if [[ $before == "$after" ]]; then
    pass "host directories, CUPS files and mounts unchanged"
else
    fail "the host changed:"
    diff <(echo "$before") <(echo "$after") >&2
fi

((failures == 0)) || exit 1
