#!/usr/bin/env bash
# The demo's scenario, run inside orvo-testenv: queues, simulated printers, the real service,
# orvo-status --watch, and a minute of changes.
set -euo pipefail
src=$1
build=$2
source "$src/scripts/testenv/lib.sh"
data=$src/scripts/demo-data
sim=$src/tests/doubles/printersim/orvo-printer-sim
usbsim=$build/tests/doubles/usbsim/orvo-usb-sim
work=$ORVO_TESTENV_DIR/demo
mkdir -p "$work"

say() { printf '\n\033[1m=== %s  %s\033[0m\n' "$(date +%T)" "$*"; }
net_ctl() { python3 "$sim" ctl "$work/$1.ctl" "${@:2}" > /dev/null; }
usb_ctl() { "$usbsim" ctl "$work/usb.ctl" "$@"; }
usb_reply() { python3 "$sim" build "$1" | cut -c15-; } # USB data stage: the reply less its header

# Two network printers on their own loopback addresses; the TCP side takes jobs slowly so that
# a job stays "printing" for a while.
python3 "$sim" serve --address 127.0.0.2 --speed 2000 \
    --reply "$data/office-ready.conf" --control "$work/office.ctl" --ready "$work/office.ready" \
    > /dev/null &
python3 "$sim" serve --address 127.0.0.3 --speed 2000 \
    --reply "$data/floor2-ready.conf" --control "$work/floor2.ctl" --ready "$work/floor2.ready" \
    > /dev/null &
testenv_wait_for "network printer simulators" 10 test -s "$work/office.ready" -a -s "$work/floor2.ready"

say "CUPS queues: two network printers, one USB printer"
testenv_add_queue Orvo-Office 'socket://127.0.0.2:9100/?snmp=false' 'Orvo Q7030DN'
testenv_add_queue Orvo-Floor2 'socket://127.0.0.3:9100/?snmp=false' 'Orvo QM7065FDW'
testenv_add_queue Orvo-Desk 'usb://Orvo/Q7020DN?serial=DEMO000001' 'Orvo Q7020DN'
LC_ALL=C lpstat -v

say "starting orvo-statusd (the USB printer is emulated with umockdev)"
"$usbsim" --control "$work/usb.ctl" --device Q7020DN:DEMO000001 \
    --reply "$(usb_reply "$data/desk-ready.conf")" -- "$build/daemon/orvo-statusd" &
testenv_wait_for "the service's printer list" 15 test -s /opt/orvo/q70_series_printer/cfg/printerlist.ini

# What the desktop application would see. Piped, orvo-status prints the state once and then one
# line per change, so the story reads as a list of events between the narration.
"$build/tools/status/orvo-status" --watch | cat &
sleep 6

say "Orvo-Office runs out of paper"
net_ctl office set-reply "$data/office-paperout.conf"
sleep 6

say "Orvo-Floor2 reports toner low"
net_ctl floor2 set-reply "$data/floor2-tonerlow.conf"
sleep 6

say "Orvo-Office: paper refilled, then a paper jam"
net_ctl office set-reply "$data/office-jam.conf"
sleep 6
say "Orvo-Office: jam cleared"
net_ctl office set-reply "$data/office-ready.conf"
sleep 4

say "a job prints on Orvo-Desk (USB); the user cancels it in CUPS"
job=$(printf 'demo page\n' | lp -d Orvo-Desk -o raw 2>/dev/null | sed -n 's/^request id is \([^ ]*\).*/\1/p')
testenv_wait_for "job $job printing" 10 sh -c "LC_ALL=C lpstat -p Orvo-Desk | grep -q 'now printing'"
# The printer has the job and says so in its replies until the cancel stops it.
usb_ctl set-reply 0 "$(usb_reply "$data/desk-printing.conf")" > /dev/null
testenv_wait_for "Orvo-Desk shown printing" 15 \
    sh -c "'$build/tools/status/orvo-status' Orvo-Desk | grep -q 'Orvo-Desk: printing'"
sleep 2
cancel "$job"
testenv_wait_for "the cancel reaching the USB printer" 10 \
    sh -c "'$usbsim' ctl '$work/usb.ctl' count 0 | grep -q 'cancel 1'"
usb_ctl set-reply 0 "$(usb_reply "$data/desk-ready.conf")" > /dev/null
# "status N cancel M detach K": the requests the emulated printer has answered so far.
read -r _ polls _ cancels _ < <(usb_ctl count 0)
say "the service passed the cancel on to Orvo-Desk over USB: the printer has had $cancels" \
    "cancel request and $polls status requests"
sleep 3

say "Orvo-Floor2 is switched off (no more replies); after six failed polls its status file goes"
net_ctl floor2 silent
testenv_wait_for "Orvo-Floor2's status file removed" 40 \
    sh -c '! test -e /opt/orvo/q70_series_printer/cfg/Orvo-Floor2.dat'
sleep 3

say "demo over: the namespace, its cupsd, simulators and service are gone with it"
