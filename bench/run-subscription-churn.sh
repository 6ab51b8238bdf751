#!/bin/bash
# How many subscriptions of the service's are left in CUPS after the service was started and
# killed (SIGKILL, so it cancels nothing) many times in a row, each time once it had proven its
# subscription: a start takes over what a killed one left. Figures, not a test:
#   scripts/testenv/orvo-testenv bench/run-subscription-churn.sh BUILD_DIR [STARTS]
# with ORVO_TESTENV_NOTIFIER=BUILD_DIR/tools/notifier/orvo-cups-notifier in the environment.
set -euo pipefail
build=${1:?usage: run-subscription-churn.sh BUILD_DIR [STARTS]}
starts=${2:-200}
. "$ORVO_TESTENV_SCRIPTS/lib.sh"
[[ -x /usr/lib/cups/notifier/orvo ]] || { echo "our notifier is not installed" >&2; exit 1; }

testenv_add_queue Churn "socket://127.0.0.2:9100/?snmp=false" --driver Orvo/Orvo_Q7020DN.ppd
log=/var/log/cups/access_log
proofs() { grep -c 'CUPS-Add-Modify-Printer' "$log" 2>/dev/null || true; }
ours() {
    # cupsd writes its subscriptions at a clean stop.
    testenv_cupsd_stop
    grep -c 'Recipient orvo://orvo-statusd/doorbell' /etc/cups/subscriptions.conf 2>/dev/null || true
    testenv_cupsd_start
}

# Starts the service and waits (5 s at most) for its proof of the subscription; true when seen.
start_proven() {
    local before t
    before=$(proofs)
    "$build/daemon/orvo-statusd" >/dev/null 2>&1 &
    pid=$!
    for ((t = 0; t < 100; t++)); do
        [[ $(proofs) -gt $before ]] && return 0
        sleep 0.05
    done
    return 1
}

proven=0
begin=$SECONDS
for ((i = 1; i <= starts; i++)); do
    start_proven && proven=$((proven + 1))
    kill -KILL "$pid"
    wait "$pid" 2>/dev/null || true
done
echo "starts and kills: $starts, proven before the kill: $proven, $((SECONDS - begin)) s"
echo "subscriptions of the service's in CUPS after them: $(ours)"
start_proven || echo "(the last start proved nothing)"
kill -TERM "$pid"
wait "$pid" 2>/dev/null || true
echo "after one more start and a SIGTERM: $(ours)"
