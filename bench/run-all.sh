#!/bin/bash
# All figures of the service in one run, written to bench/RESULTS.md:
#   sudo bench/run-all.sh [BUILD_DIR] [--quick]
# BUILD_DIR (default build/bench-release) is configured and built when it has no service yet:
# RelWithDebInfo with the tests configured (the benchmarks use the test doubles), building only
# what the figures need. Everything runs inside scripts/testenv/orvo-testenv
# (private scheduler, install root and network). Takes about 12 minutes; --quick about 4.
set -euo pipefail
src=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-$src/build/bench-release}
quick=
[[ ${2:-} == --quick || ${1:-} == --quick ]] && quick=--quick
[[ $build == --quick ]] && build=$src/build/bench-release
build=$(realpath -m "$build")

if [[ ! -x $build/daemon/orvo-statusd || ! -x $build/tests/doubles/usbsim/orvo-usb-sim ||
      ! -x $build/bench/bench_discovery || ! -x $build/bench/bench_cups_questions ]]; then
    cmake -S "$src" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
        -DORVO_BUILD_TESTS=ON >/dev/null
    ninja -C "$build" -j"$(nproc)" orvo-statusd orvo-usb-sim bench_discovery bench_cups_questions
fi
build_type=$(sed -n 's/^CMAKE_BUILD_TYPE:[A-Z]*=//p' "$build/CMakeCache.txt")

scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
chmod 755 "$scratch"
load_before=$(cut -d' ' -f1-3 /proc/loadavg)
"$src/scripts/testenv/orvo-testenv" -- python3 "$src/bench/service_bench.py" "$src" "$build" \
    "$scratch/body.md" $quick
load_after=$(cut -d' ' -f1-3 /proc/loadavg)

{
    echo "# Benchmark results"
    echo
    echo "Figures, not tests: nothing here fails the suite. Produced by \`bench/run-all.sh\`."
    echo
    echo "| | |"
    echo "|---|---|"
    echo "| date | $(date '+%Y-%m-%d %H:%M %Z') |"
    echo "| command | \`sudo bench/run-all.sh ${1:-} ${2:-}\` |"
    echo "| commit | $(git -C "$src" rev-parse --short HEAD)$(git -C "$src" diff --quiet HEAD -- service status devices protocol || echo ' (with uncommitted changes)') |"
    echo "| build | $build_type ($(basename "$build")) |"
    echo "| machine | $(nproc) cores, $(sed -n 's/^model name[[:space:]]*: //p' /proc/cpuinfo | head -1), $(awk '/MemTotal/ { printf "%.1f GB", $2 / 1048576 }' /proc/meminfo) RAM, $(. /etc/os-release && echo "$PRETTY_NAME"), kernel $(uname -r) |"
    echo "| CUPS | $(dpkg-query -W -f '${Version}' cups-daemon 2>/dev/null || echo '?') |"
    echo "| load average | $load_before before, $load_after after (the machine is shared) |"
    echo
    cat "$scratch/body.md"
} >"$src/bench/RESULTS.md.new"
# Keep the soak section that bench/soak.sh appends, if there is one.
if [[ -f $src/bench/RESULTS.md ]] && grep -q '^## Soak' "$src/bench/RESULTS.md"; then
    echo >>"$src/bench/RESULTS.md.new"
    sed -n '/^## Soak/,$p' "$src/bench/RESULTS.md" >>"$src/bench/RESULTS.md.new"
fi
mv "$src/bench/RESULTS.md.new" "$src/bench/RESULTS.md"
echo "wrote $src/bench/RESULTS.md"
