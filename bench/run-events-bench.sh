#!/bin/bash
# The service before the event watcher against the event-driven one, side by side in one run,
# written to bench/RESULTS-events.md:
#   bench/run-events-bench.sh BASE_BUILD NEW_BUILD [--quick]
# Both build directories hold RelWithDebInfo builds with the tests configured, with orvo-statusd
# and orvo-usb-sim built; NEW_BUILD also orvo-cups-notifier. Everything runs inside
# scripts/testenv/orvo-testenv with the new build's notifier installed (the base service never
# subscribes) and cupsd logging every request. About 20 minutes; --quick about 12.
set -euo pipefail
src=$(cd "$(dirname "$0")/.." && pwd)
base=$(realpath -m "${1:?usage: run-events-bench.sh BASE_BUILD NEW_BUILD [--quick]}")
new=$(realpath -m "${2:?usage: run-events-bench.sh BASE_BUILD NEW_BUILD [--quick]}")
quick=
[[ ${3:-} == --quick ]] && quick=--quick
for f in "$base/daemon/orvo-statusd" "$base/tests/doubles/usbsim/orvo-usb-sim" \
    "$new/daemon/orvo-statusd" "$new/tests/doubles/usbsim/orvo-usb-sim" \
    "$new/tools/notifier/orvo-cups-notifier"; do
    [[ -x $f ]] || { echo "run-events-bench.sh: $f is missing" >&2; exit 2; }
done
commit_of() {
    local dir
    dir=$(sed -n 's/^CMAKE_HOME_DIRECTORY:INTERNAL=//p' "$1/CMakeCache.txt")
    echo "$(git -C "$dir" rev-parse --short HEAD)$(git -C "$dir" diff --quiet HEAD -- service status devices protocol daemon tools || echo ' (with uncommitted changes)')"
}
build_type() { sed -n 's/^CMAKE_BUILD_TYPE:[A-Z]*=//p' "$1/CMakeCache.txt"; }

scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
chmod 755 "$scratch"
load_before=$(cut -d' ' -f1-3 /proc/loadavg)
started=$SECONDS
ORVO_TESTENV_NOTIFIER=$new/tools/notifier/orvo-cups-notifier ORVO_TESTENV_ACCESSLOGLEVEL=all \
    "$src/scripts/testenv/orvo-testenv" -- python3 "$src/bench/events_bench.py" "$src" "$base" \
    "$new" "$scratch/body.md" $quick
load_after=$(cut -d' ' -f1-3 /proc/loadavg)

{
    echo "## Event-driven questions to CUPS against asking every pass"
    echo
    echo "Figures, not tests. Produced by \`bench/run-events-bench.sh\`: per scenario a fresh service of each version, base first, then new, after a warm-up until steady."
    echo
    echo "| | |"
    echo "|---|---|"
    echo "| date | $(date '+%Y-%m-%d %H:%M %Z') |"
    echo "| command | \`bench/run-events-bench.sh $*\` |"
    echo "| base | $(commit_of "$base") ($base), $(build_type "$base") |"
    echo "| new | $(commit_of "$new") ($new), $(build_type "$new") |"
    echo "| machine | $(nproc) cores, $(sed -n 's/^model name[[:space:]]*: //p' /proc/cpuinfo | head -1), $(awk '/MemTotal/ { printf "%.1f GB", $2 / 1048576 }' /proc/meminfo) RAM, $(. /etc/os-release && echo "$PRETTY_NAME"), kernel $(uname -r) |"
    echo "| CUPS | $(dpkg-query -W -f '${Version}' cups-daemon 2>/dev/null || echo '?') |"
    echo "| load average | $load_before before, $load_after after (the machine is shared) |"
    echo "| run time | $((SECONDS - started)) s |"
    echo
    cat "$scratch/body.md"
} >"$src/bench/RESULTS-events.md"
echo "wrote $src/bench/RESULTS-events.md"
