#!/bin/bash
# Captures the "lpstat -v" outputs of this directory from a private scheduler:
#   scripts/testenv/orvo-testenv tests/data/lpstat/capture.sh
# The zh_CN wording comes from CUPS's own message catalogue; no system locale is needed.
set -euo pipefail
here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
. "$ORVO_TESTENV_SCRIPTS/lib.sh"

testenv_add_queue Office 'usb://Orvo/Q7020DN?serial=123' 'Orvo Q7020DN'
testenv_add_queue Copy 'usb://Orvo/Q7020DN?serial=123' 'Orvo Q7020DN'
testenv_add_queue Net 'socket://127.0.0.20:9100' 'Orvo Q7030DW'
testenv_add_queue NetNoPort 'socket://127.0.0.22' 'Orvo Q7030DW'
testenv_add_queue Net6 'socket://[::1]:9100' 'Orvo Q7040DN'
testenv_add_queue Query 'socket://127.0.0.23:9100/?snmp=false' 'Orvo Q7045DW'
testenv_add_queue Ipp 'ipp://127.0.0.1/printers/x' 'Orvo Q7020'
testenv_add_queue Lpd 'lpd://127.0.0.1/queue' 'Orvo Q7020'
testenv_add_queue Raw 'socket://127.0.0.21:9100'
testenv_add_queue Büro 'usb://Orvo/Q7025DW?serial=B1' 'Orvo Q7025DW'
testenv_add_queue 打印机 'usb://Orvo/QM7065FDW?serial=Z9' 'Orvo QM7065FDW'

LC_ALL=C lpstat -v >"$here/v-c.txt"
LANG=zh_CN.UTF-8 lpstat -v >"$here/v-zh_CN.txt"
