#!/bin/bash
# Which doorbell tells the service of changes in CUPS: no subscription (the baseline), rss:///NAME
# with inotify, and our own notifier ringing a datagram socket. Per candidate, on a fresh
# private cupsd at the default log level: latency and CPU per change, 60 s idle, a change after
# the idle time, a clean cupsd restart; then what the candidate left in error_log and in CUPS'
# directories. Figures, not a test; about 4 minutes:
#   scripts/testenv/orvo-testenv bench/doorbell/run.sh BUILD_DIR [CHANGES] [IDLE_S]
set -euo pipefail
build=${1:?usage: run.sh BUILD_DIR [CHANGES] [IDLE_S]}
changes=${2:-200}
idle=${3:-60}
dir=$ORVO_TESTENV_DIR
. "$ORVO_TESTENV_SCRIPTS/lib.sh"

# ServerBin/notifier is the host's: in this mount namespace it becomes a copy with ours added
# as the "orvo" scheme, owned by root like the others.
mkdir "$dir/notifier"
cp -a /usr/lib/cups/notifier/. "$dir/notifier/"
install -m 0755 -o root -g root "$build/bench/doorbell_notifier" "$dir/notifier/orvo"
mount -n --bind "$dir/notifier" /usr/lib/cups/notifier

testenv_add_queue Bell "socket://127.0.0.1:9/"
log=/var/log/cups/error_log
for kind in none rss orvo; do
    testenv_cupsd_stop
    # What a candidate leaves must not be blamed on the next one.
    rm -rf /var/cache/cups/rss/* /run/orvo-statusd
    testenv_cupsd_start
    touch "$log"
    mark=$(wc -l <"$log")
    echo "== $kind"
    "$build/bench/doorbell_probe" "$kind" Bell "$changes" "$idle"
    echo "-- error_log lines during the run:"
    tail -n +$((mark + 1)) "$log" | sed 's/^[A-Z] \[[^]]*\] /  /' | sort | uniq -c || true
    # A clean stop writes subscriptions.conf, which cupsd otherwise saves up to 30 s late.
    testenv_cupsd_stop
    echo "-- left after the cancel and a clean stop of cupsd:"
    find /var/cache/cups/rss /run/orvo-statusd \( -type f -o -type s \) \
        -printf '  %p %m %u:%g %s bytes\n' 2>/dev/null | sort || true
    subscriptions=0
    if [[ -e /etc/cups/subscriptions.conf ]]; then
        subscriptions=$(grep -c '^<Subscription' /etc/cups/subscriptions.conf || true)
    fi
    echo "  subscriptions.conf: $subscriptions subscription(s)"
    testenv_cupsd_start
done

# The listening side in the sandbox of the service's unit (ProtectSystem=strict and its
# RuntimeDirectory): a mount namespace where every mount but /dev, /proc, /sys and
# /run/orvo-statusd is read-only. cupsd and its notifier stay outside, as under systemd.
hardened() {
    mkdir -p /run/orvo-statusd
    # shellcheck disable=SC2016 # expanded by the inner shell
    unshare --mount --propagation private -- bash -c '
        mount -n --bind /run/orvo-statusd /run/orvo-statusd
        awk "{ print \$5 }" /proc/self/mountinfo | while read -r point; do
            case $point in /dev | /dev/* | /proc | /proc/* | /sys | /sys/* | /run/orvo-statusd) continue ;; esac
            mount -n -o remount,bind,ro "$point" 2>/dev/null || echo "still writable: $point" >&2
        done
        if touch /var/cache/cups/rss/.probe 2>/dev/null; then echo "not read-only" >&2; exit 1; fi
        exec "$@"' hardened "$@"
}
for kind in rss orvo; do
    echo "== $kind, listening in a read-only system (ProtectSystem=strict)"
    hardened "$build/bench/doorbell_probe" "$kind" Bell 20 0 --no-restart
done
