#!/bin/bash
# Soak run of the service: four printers (2 network, 2 USB) for MINUTES (default 10) with
# changes all the time; reports leaks, VmRSS growth, descriptors and stray temporary files.
#   sudo bench/soak.sh [BUILD_DIR [MINUTES]]
# BUILD_DIR defaults to build/asan (cmake --preset asan && cmake --build --preset asan --target
# orvo-statusd orvo-usb-sim). With an AddressSanitizer build the leak check runs in the living
# service: the service never returns from main (it is killed from outside, or ends itself with
# _exit), so LeakSanitizer's check at exit never runs, and valgrind's report at a signal death
# would cost a 20-50x slower service. bench/soak/leakcheck.c, preloaded after the ASan runtime,
# runs __lsan_do_recoverable_leak_check() on SIGUSR2 and then ends the process.
# The result is printed and replaces the soak section of the same kind (ASan or not) of
# bench/RESULTS.md. With a build without sanitizers the VmRSS figures are the real ones (ASan's
# quarantine and shadow memory grow on their own); there is no leak check then.
set -euo pipefail
src=$(cd "$(dirname "$0")/.." && pwd)
build=$(realpath -m "${1:-$src/build/asan}")
minutes=${2:-10}
for f in "$build/daemon/orvo-statusd" "$build/tests/doubles/usbsim/orvo-usb-sim"; do
    [[ -x $f ]] || { echo "soak.sh: $f is missing; build orvo-statusd and orvo-usb-sim" >&2; exit 2; }
done

scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
chmod 755 "$scratch"
leakcheck=
if grep -q '^ORVO_SANITIZER:STRING=address' "$build/CMakeCache.txt" 2>/dev/null; then
    gcc -shared -fPIC -O1 -o "$scratch/leakcheck.so" "$src/bench/soak/leakcheck.c" -lpthread
    leakcheck=$scratch/leakcheck.so
fi
"$src/scripts/testenv/orvo-testenv" -- python3 "$src/bench/soak/soak_run.py" "$src" "$build" \
    "$minutes" "$scratch/soak.md" $leakcheck

results=$src/bench/RESULTS.md
heading=$(head -n1 "$scratch/soak.md")
if [[ -f $results ]]; then
    # Replace an earlier section of the same kind (up to the next "## " heading), keep the rest.
    awk -v h="$heading" '$0 == h { skip = 1; next } skip && /^## / { skip = 0 } !skip' \
        "$results" >"$scratch/results.md"
    [[ -z $(tail -c1 "$scratch/results.md") ]] || echo >>"$scratch/results.md"
    cat "$scratch/soak.md" >>"$scratch/results.md"
    cp "$scratch/results.md" "$results"
else
    { echo "# Benchmark results"; echo; cat "$scratch/soak.md"; } >"$results"
fi
echo "soak section written to $results"
