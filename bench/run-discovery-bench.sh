#!/bin/bash
# Cost of one device-manager cycle with 1 and with 100 Orvo queues, in a private scheduler:
#   scripts/testenv/orvo-testenv bench/run-discovery-bench.sh BUILD_DIR [REPETITIONS]
set -euo pipefail
build=${1:?usage: run-discovery-bench.sh BUILD_DIR [REPETITIONS]}
reps=${2:-50}
. "$ORVO_TESTENV_SCRIPTS/lib.sh"

keys=()
while read -r key; do
    [[ -z $key || $key == \#* ]] || keys+=("$key")
done <"$ORVO_TESTENV_SCRIPTS/model-keys"

added=0
for total in 1 100; do
    while ((added < total)); do
        key=${keys[added % ${#keys[@]}]}
        if ((added % 2)); then
            uri="socket://127.0.$((added / 250)).$((added % 250 + 1)):9100"
        else
            uri="usb://Orvo/$key?serial=B$added"
        fi
        testenv_add_queue "Q$added" "$uri" --driver "Orvo/Orvo_$key.ppd"
        added=$((added + 1))
    done
    echo "== $total queue(s)"
    "$build/bench/bench_discovery" "$reps"
done
