#!/bin/bash
# What the service asks of CUPS for the printers' state reasons, counted in the private
# scheduler's access_log (AccessLogLevel all): in 60 s without a change, in 60 s of a steady
# condition, in a run that flips between paper out and ready 20 times 3 s apart, and in 20 s of
# flipping four times a second (faster than the printer is asked):
#   scripts/testenv/orvo-testenv bench/run-reasons-requests.sh BUILD_DIR
# Figures, not a test; takes about 3 minutes.
set -euo pipefail
build=${1:?usage: run-reasons-requests.sh BUILD_DIR}
src=$(cd "$(dirname "$0")/.." && pwd)
sim=$src/tests/doubles/printersim/orvo-printer-sim
dir=$ORVO_TESTENV_DIR
log=/var/log/cups/access_log
. "$ORVO_TESTENV_SCRIPTS/lib.sh"

testenv_cupsd_stop
echo "AccessLogLevel all" >>/etc/cups/cupsd.conf
testenv_cupsd_start
# Status code 1: a printer that reports 0 is asked only while its queue prints.
printf 'info1 = Orvo Q7040DN\nstatus_code = 1\n' >"$dir/ready.kv"
printf 'info1 = Orvo Q7040DN\nstatus_code = 3\nerrors1 = 0x1106\n' >"$dir/paper.kv"
"$sim" serve --address 127.0.0.2 --reply "$dir/ready.kv" --control "$dir/p.ctl" \
    --ready "$dir/p.ready" >/dev/null 2>&1 &
testenv_wait_for "the simulator" 10 test -s "$dir/p.ready"
testenv_add_queue Office "socket://127.0.0.2:9100/?snmp=false" "Orvo Q7040DN"
"$build/daemon/orvo-statusd" &
service=$!
trap 'kill "$service" 2>/dev/null || true' EXIT
sleep 15 # past the first iteration of a new printer

reply() { "$sim" ctl "$dir/p.ctl" set-reply "$dir/$1.kv" >/dev/null; }
since() { tail -n +$(($1 + 1)) "$log"; }
count() {
    echo "$(since "$1" | grep -c '" 200 .*CUPS-Add-Modify-Printer') CUPS-Add-Modify-Printer," \
        "$(since "$1" | grep -c 'Get-Printer-Attributes') Get-Printer-Attributes" \
        "($(since "$1" | wc -l) requests of every kind)"
}
mark=$(wc -l <"$log"); sleep 60
echo "60 s ready, no change: $(count "$mark")"
reply paper; sleep 5
mark=$(wc -l <"$log"); sleep 60
echo "60 s paper out, no change: $(count "$mark")"
mark=$(wc -l <"$log")
for _ in $(seq 10); do reply ready; sleep 3; reply paper; sleep 3; done
sleep 2
echo "20 changes 3 s apart: $(count "$mark")"
mark=$(wc -l <"$log")
"$sim" ctl "$dir/p.ctl" reset-count >/dev/null
for _ in $(seq 40); do reply ready; sleep 0.25; reply paper; sleep 0.25; done
sleep 2
echo "20 s flipping 4 times a second: $(count "$mark");" \
    "printer asked: $("$sim" ctl "$dir/p.ctl" count)"
