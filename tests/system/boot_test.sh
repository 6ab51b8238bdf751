#!/usr/bin/env bash
# boot_test.sh SOURCE_DIR BUILD_DIR PRINTER_SIM USB_SIM
#
# Installs the Debian package into a Debian 12 system booted with systemd in a container and
# checks what only a real systemd shows: the units, the path unit, the udev rule, restarts,
# reboots, upgrades, removal and the sandbox rating. One line per check; exit 1 on any failed
# check, 77 (skipped) when this host cannot boot such a container.
#
# The prepared root filesystem is cached in $ORVO_SYSTEMTEST_CACHE (default
# /var/cache/orvo-systemtest), keyed by everything that goes into it; the first run builds it
# with debootstrap from the mirror in the host's apt sources.
set -uo pipefail

src=$(cd "$1" && pwd)
build=$(cd "$2" && pwd)
sim=$3
usbsim=${4:-}
here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
cache_dir=${ORVO_SYSTEMTEST_CACHE:-/var/cache/orvo-systemtest}
SKIP=77
start_time=$SECONDS

skip() {
    echo "SKIP: $*"
    exit $SKIP
}
say() { printf '[%3ds] %s\n' $((SECONDS - start_time)) "$*"; }

# --- Can this host boot a container at all? ------------------------------------------------
[ "$(id -u)" -eq 0 ] || skip "booting a container needs root"
for tool in systemd-nspawn nsenter zstd flock cpack dpkg-deb; do
    command -v "$tool" >/dev/null 2>&1 || skip "$tool is not installed (scripts/lib/deps.sh lists it)"
done
[ -f "$sim" ] || { echo "printer simulator not found at $sim"; exit 1; }
[ -x "$usbsim" ] || { echo "USB printer emulator not found at '$usbsim'"; exit 1; }

# Everything the cached root holds depends on these; a change makes a new cache entry.
recipe_version=1
base_packages=systemd,systemd-sysv,dbus,udev,procps,python3
tool_packages="umockdev"
cached_debs="cups cups-client cups-bsd libqt5core5a libqt5dbus5 libusb-1.0-0"
# The container gets the host's Debian 12 suites (release, updates, security), so its CUPS is
# what a maintained system runs. The mirror comes from the host, never from this file.
# shellcheck disable=SC2016 # apt's own placeholders
sources=$(apt-get indextargets --format '$(REPO_URI) $(RELEASE) $(COMPONENT) $(ORIGIN)' \
    'Identifier: Packages' 2>/dev/null |
    awk '$4 == "Debian" && $2 ~ /^bookworm(-updates|-security)?$/ && $3 == "main" {
        print "deb " $1 " " $2 " main" }' | sort -u)
mirror=$(awk '$3 == "bookworm" { print $2; exit }' <<<"$sources")
key=$(printf '%s\n' "$recipe_version" "$base_packages" "$tool_packages" "$cached_debs" \
    "$sources" | sha256sum | cut -c1-16)
cache="$cache_dir/bookworm-$key.tar.zst"

mkdir -p "$cache_dir" || skip "cannot create $cache_dir"
# One run at a time: runs share the cache and /run/systemd/nspawn.
exec 9>"$cache_dir/.lock"
flock -w 1800 9 || { echo "another system test holds $cache_dir/.lock"; exit 1; }

nspawn_bin=$(command -v systemd-nspawn)
# A run killed outright (SIGKILL, a CI timeout) leaves its directory behind, maybe with its
# container still running on it.
for stale in /var/tmp/orvo-systemtest.*; do
    [ -d "$stale" ] || continue
    pid=$(cat "$stale/nspawn.pid" 2>/dev/null)
    if [ -n "$pid" ] && [ "$(readlink "/proc/$pid/exe")" = "$nspawn_bin" ] &&
        grep -qzxF "$stale/root" "/proc/$pid/cmdline"; then
        kill -TERM "$pid"
        deadline=$((SECONDS + 20))
        while kill -0 "$pid" 2>/dev/null && [ $SECONDS -lt $deadline ]; do sleep 0.2; done
    fi
    grep -q " $stale/" /proc/self/mounts || rm -rf "$stale"
done

work=$(mktemp -d /var/tmp/orvo-systemtest.XXXXXX)
root=$work/root
payload=$work/payload
nspawn_pid=
nspawn_dir_existed=0
[ -e /run/systemd/nspawn ] && nspawn_dir_existed=1

stop_container() {
    [ -n "$nspawn_pid" ] || return 0
    if kill -0 "$nspawn_pid" 2>/dev/null; then
        # SIGTERM makes systemd-nspawn shut the container's systemd down cleanly.
        kill -TERM "$nspawn_pid" 2>/dev/null
        local deadline=$((SECONDS + 20))
        while kill -0 "$nspawn_pid" 2>/dev/null && [ $SECONDS -lt $deadline ]; do sleep 0.2; done
        kill -0 "$nspawn_pid" 2>/dev/null && kill -KILL "$nspawn_pid" 2>/dev/null
    fi
    wait "$nspawn_pid" 2>/dev/null
    nspawn_pid=
}
main_pid=$BASHPID
cleanup() {
    # A signal that arrives while bash forks a command substitution runs the traps in the
    # child too; only the main process cleans up.
    [ "$BASHPID" = "$main_pid" ] || return 0
    stop_container
    # The logs of the last run stay in the build tree for a look after a failure.
    rm -rf "$build/systemtest-logs"
    mkdir -p "$build/systemtest-logs" && cp "$work"/*.log "$build/systemtest-logs/" 2>/dev/null
    # The container's mounts live in systemd-nspawn's own namespace and go with it; a
    # debootstrap that failed half-way may leave /proc or /sys mounted in its target.
    awk -v w="$work/" 'index($2, w) == 1 { print $2 }' /proc/self/mounts | sort -r |
        while read -r mnt; do umount "$mnt"; done
    # Never delete through a mount that is still there.
    if grep -q " $work/" /proc/self/mounts; then
        echo "mounts left below $work: not removing it"
    else
        rm -rf "$work"
        say "cleaned up"
    fi
    # systemd-nspawn --register=no leaves this behind where /run is no tmpfs; another
    # container running now may still use it.
    if [ $nspawn_dir_existed = 0 ] && ! pgrep -x systemd-nspawn >/dev/null; then
        rm -rf /run/systemd/nspawn
    fi
}
trap cleanup EXIT
on_signal() {
    [ "$BASHPID" = "$main_pid" ] || kill -TERM "$main_pid"
    exit 130
}
trap on_signal INT TERM

# --- The prepared root ---------------------------------------------------------------------
mirror_usable() {
    command -v debootstrap >/dev/null 2>&1 || skip "debootstrap is not installed"
    [ -n "$mirror" ] || skip "no Debian 12 mirror in the host's apt sources"
    timeout 20 curl -fsS -o /dev/null "${mirror%/}/dists/bookworm/Release" 2>/dev/null ||
        timeout 20 wget -q -O /dev/null "${mirror%/}/dists/bookworm/Release" 2>/dev/null ||
        skip "the host's Debian mirror ($mirror) does not answer"
}
prepare_root() {
    local fresh=$work/fresh
    say "preparing a Debian 12 root (first run; cached afterwards in $cache_dir)"
    debootstrap --variant=minbase --include="$base_packages" bookworm "$fresh" "$mirror" \
        >"$work/debootstrap.log" 2>&1 ||
        { tail -20 "$work/debootstrap.log"; echo "debootstrap failed"; exit 1; }
    printf '%s\n' "$sources" >"$fresh/etc/apt/sources.list"
    # shellcheck disable=SC2086
    systemd-nspawn -q -D "$fresh" --register=no --keep-unit \
        -E DEBIAN_FRONTEND=noninteractive sh -ec "
            apt-get update -qq
            apt-get install -y -qq --no-install-recommends $tool_packages
            apt-get install -y -qq --no-install-recommends --download-only $cached_debs" \
        >"$work/prepare.log" 2>&1 ||
        { tail -20 "$work/prepare.log"; echo "preparing the root failed"; exit 1; }
    if ! tar -C "$fresh" --numeric-owner -I 'zstd -T0 -3' -cf "$cache.tmp" . ||
        ! mv "$cache.tmp" "$cache"; then
        rm -f "$cache.tmp"
        echo "cannot write $cache"
        exit 1
    fi
    rm -rf "$fresh"
    # Older entries of other keys only take space.
    find "$cache_dir" -maxdepth 1 -name 'bookworm-*.tar.zst' ! -path "$cache" -delete
}

# --- The package: a release build of this source tree, twice with different versions -------
build_packages() {
    local dir=$build/systemtest-release
    say "building the release package in $dir"
    if [ ! -f "$dir/CMakeCache.txt" ]; then
        cmake -S "$src" -B "$dir" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
            -DORVO_BUILD_TESTS=OFF >"$work/configure.log" 2>&1 ||
            { cat "$work/configure.log"; echo "configuring the release build failed"; exit 1; }
    fi
    cmake --build "$dir" -j 2 >"$work/build.log" 2>&1 ||
        { tail -40 "$work/build.log"; echo "the release build failed"; exit 1; }
    (cd "$dir" && cpack -G DEB -B "$work/deb1") >"$work/cpack.log" 2>&1 ||
        { cat "$work/cpack.log"; echo "cpack failed"; exit 1; }
    local deb1 version
    deb1=$(ls "$work"/deb1/*.deb)
    version=$(dpkg-deb -f "$deb1" Version)
    # The same build with a higher version stands for the next release.
    (cd "$dir" && cpack -G DEB -B "$work/deb2" -R "$version+1") >"$work/cpack2.log" 2>&1 ||
        { cat "$work/cpack2.log"; echo "cpack of the newer version failed"; exit 1; }
    mkdir -p "$payload"
    cp "$deb1" "$payload/orvo-statusd-old.deb"
    cp "$work"/deb2/*.deb "$payload/orvo-statusd-new.deb"
    new_version=$(dpkg-deb -f "$payload/orvo-statusd-new.deb" Version)
    dpkg --compare-versions "$new_version" gt "$version" ||
        { echo "the rebuilt package's version $new_version is not above $version"; exit 1; }
}

# A month-old root has stale package lists; rebuild it while the mirror answers.
if [ -f "$cache" ] && [ -n "$(find "$cache" -mtime +30)" ] && (mirror_usable) >/dev/null; then
    rm -f "$cache"
fi
[ -f "$cache" ] || mirror_usable
build_packages
[ -f "$cache" ] || prepare_root
say "copying the cached root $cache"
mkdir -p "$root"
tar -C "$root" --numeric-owner -I zstd -xf "$cache" || { echo "cannot unpack $cache"; exit 1; }

# A fresh machine: its own machine ID at first boot, a hosts file as every installation has,
# and no colord (it exits at once in a container and cupsd then waits 25 s for it on D-Bus).
: >"$root/etc/machine-id"
printf '127.0.0.1\tlocalhost\n::1\tlocalhost ip6-localhost ip6-loopback\n' >"$root/etc/hosts"
ln -sf /dev/null "$root/etc/systemd/system/colord.service"

# What the tests bring into the container, read-only at /srv/payload.
cp "$sim" "$payload/orvo-printer-sim"
cp "$usbsim" "$payload/orvo-usb-sim"
printf 'info1 = Orvo Q7040DN\nstatus_code = 0\n' >"$work/reply.txt"
python3 "$sim" build "$work/reply.txt" >"$payload/ready.hex" || { echo "cannot build a reply"; exit 1; }
# Ready with status code 1: a printer reporting 0 is asked only while its queue prints.
printf 'info1 = Orvo Q7040DN\nstatus_code = 1\n' >"$work/awake.txt"
python3 "$sim" build "$work/awake.txt" >"$payload/awake.hex" || { echo "cannot build a reply"; exit 1; }
printf 'info1 = Orvo Q7040DN\nstatus_code = 3\nerrors1 = 0x1106\n' >"$work/paper.txt"
python3 "$sim" build "$work/paper.txt" >"$payload/paper.hex" || { echo "cannot build a reply"; exit 1; }
cp "$src/scripts/testenv/usb-backend" "$src/scripts/testenv/model-keys" "$payload/"
cp "$here/orvo-printer.umockdev" "$payload/"
sed 's/3a5c/04b8/g' "$here/orvo-printer.umockdev" >"$payload/other-vendor.umockdev"
mkdir -p "$payload/model/Orvo"
# shellcheck source=/dev/null
source "$src/scripts/testenv/make-ppd"
while read -r model_key; do
    [[ -z $model_key || $model_key == \#* ]] && continue
    orvo_make_ppd "Orvo $model_key" >"$payload/model/Orvo/Orvo_$model_key.ppd"
done <"$src/scripts/testenv/model-keys"

# Packages the cache lacks (a dependency added since it was made) come from the mirror now,
# while the container still shares the host's network; booted, it has none.
systemd-nspawn -q -D "$root" --register=no --keep-unit --bind-ro="$payload:/srv/payload" \
    -E DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends \
    --download-only cups /srv/payload/orvo-statusd-old.deb >"$work/download.log" 2>&1 ||
    { cat "$work/download.log"; echo "cannot fetch the package's dependencies"; exit 1; }

# --- Running things in the booted container ------------------------------------------------
leader=
boot() { # boot FIRST: a first boot that fails says the host cannot boot containers
    systemd-nspawn -q -D "$root" -M "orvo-systest-$$" --boot --register=no --keep-unit \
        --private-network --console=read-only --bind-ro="$payload:/srv/payload" \
        >>"$work/console.log" 2>&1 &
    nspawn_pid=$!
    echo "$nspawn_pid" >"$work/nspawn.pid"
    leader=
    local deadline=$((SECONDS + 60))
    while [ $SECONDS -lt $deadline ]; do
        kill -0 "$nspawn_pid" 2>/dev/null || break
        # The container's systemd, not the short-lived helper systemd-nspawn forks first.
        leader=$(pgrep -x -P "$nspawn_pid" systemd | head -1)
        # "degraded" also ends the wait: the checks judge the units that matter.
        if [ -n "$leader" ]; then
            case $(in_ct timeout 10 systemctl is-system-running --wait 2>/dev/null) in
            running | degraded) return 0 ;;
            esac
        fi
        sleep 0.2
    done
    tail -30 "$work/console.log"
    [ "$1" = first ] && skip "this host cannot boot a Debian 12 container (console above)"
    echo "the container did not boot again"
    exit 1
}
power_off() {
    in_ct systemctl poweroff >/dev/null 2>&1
    local deadline=$((SECONDS + 30))
    while kill -0 "$nspawn_pid" 2>/dev/null && [ $SECONDS -lt $deadline ]; do sleep 0.2; done
    kill -0 "$nspawn_pid" 2>/dev/null && say "the container did not power off in 30 s"
    stop_container
}
in_ct() {
    nsenter -t "$leader" -a env -i PATH=/usr/local/sbin:/usr/local/bin:/usr/sbin:/usr/bin:/sbin:/bin \
        LANG=C.UTF-8 \
        DEBIAN_FRONTEND=noninteractive "$@"
}
in_sh() { in_ct sh -c "$1"; }
# until TIMEOUT SHELL-CONDITION: polls the condition inside the container until it holds.
until_ct() {
    local deadline=$((SECONDS + $1))
    while [ $SECONDS -lt $deadline ]; do
        in_sh "$2" >/dev/null 2>&1 && return 0
        sleep 0.2
    done
    return 1
}
# holds_ct SECONDS SHELL-CONDITION: the condition holds at every look for that long.
holds_ct() {
    local deadline=$((SECONDS + $1))
    while [ $SECONDS -lt $deadline ]; do
        in_sh "$2" >/dev/null 2>&1 || return 1
        sleep 0.5
    done
}
prop() { in_ct systemctl show -P "$2" "$1" 2>/dev/null; }

failed=0
check() { # check NAME RESULT [DETAIL]
    if [ "$2" = 0 ]; then
        echo "ok   $1"
    else
        echo "FAIL $1${3:+: $3}"
        failed=$((failed + 1))
    fi
}
apt_install() { # apt_install LOGNAME ARGS...: install inside, output kept for the noise check
    local log=$work/$1.log
    shift
    in_ct apt-get install -y --no-install-recommends "$@" >"$log" 2>&1
}
cfg=/opt/orvo/q70_series_printer/cfg
svc=orvo-statusd.service

# --- First boot ------------------------------------------------------------------------------
say "booting the container"
boot first
say "installing cups"
apt_install apt-cups cups || { tail -20 "$work/apt-cups.log"; echo "cannot install cups"; exit 1; }
say "installing the package"
apt_install apt-install /srv/payload/orvo-statusd-old.deb
check "package installs" $? "$(tail -3 "$work/apt-install.log")"

enabled=$(in_ct systemctl is-enabled $svc orvo-statusd.path 2>&1 | tr '\n' ' ')
[ "$enabled" = "enabled enabled " ]
check "service and path unit enabled" $? "$enabled"
# With no queue yet the service started by the installation ends itself, with status 0.
until_ct 40 "systemctl is-active -q $svc; [ \$? -ne 0 ]"
check "service without printers ends itself" $? "$(prop $svc ActiveState)"
state="$(prop $svc Result) $(prop $svc ExecMainStatus) $(prop $svc NRestarts)"
[ "$state" = "success 0 0" ]
check "service ended with status 0, no restart" $? "result, status, restarts: $state"
state="$(prop orvo-statusd.path ActiveState)/$(prop orvo-statusd.path SubState)"
[ "$state" = active/waiting ]
check "path unit waiting" $? "$state"

# A network printer: the simulator answers on UDP 9300 on a loopback address of its own.
in_ct systemd-run -q --unit=orvo-printer-sim python3 /srv/payload/orvo-printer-sim serve \
    --address 127.0.0.2 --ready /run/orvo-printer-sim.ready --control /run/orvo-printer-sim.ctl \
    --reply-hex "$(cat "$payload/awake.hex")" >/dev/null 2>&1
until_ct 20 "test -s /run/orvo-printer-sim.ready" || echo "(printer simulator did not start)"
in_ct lpadmin -p OrvoNet -E -v 'socket://127.0.0.2:9100/?snmp=false' \
    -P /srv/payload/model/Orvo/Orvo_Q7040DN.ppd >"$work/lpadmin.log" 2>&1 ||
    { cat "$work/lpadmin.log"; echo "cannot create the test queue"; }
until_ct 20 "systemctl is-active -q $svc"
check "new queue starts the service through the path unit" $?
until_ct 20 "grep -qx 'Name=OrvoNet' $cfg/printerlist.ini"
check "service publishes printerlist.ini" $?
until_ct 20 "test -s $cfg/service.hb"
check "service publishes service.hb" $?
until_ct 30 "test -s $cfg/OrvoNet.dat"
check "service publishes OrvoNet.dat from the simulator's reply" $?
# Told of changes in CUPS: cupsd runs our notifier (as lp) for the service's subscription, and it
# rings the socket in the sandboxed service's runtime directory.
until_ct 20 "pgrep -u lp -f /usr/lib/cups/notifier/orvo >/dev/null && test -S /run/orvo-statusd/doorbell"
check "the sandboxed service subscribes to CUPS' events through its notifier" $? \
    "$(in_ct ls -l /usr/lib/cups/notifier/ /run/orvo-statusd/ 2>&1 | tr '\n' ' ')"

out=$(in_ct orvo-status 2>&1)
grep -q '^Service: *alive' <<<"$out" && grep -q 'OrvoNet' <<<"$out"
check "orvo-status shows the service alive and the printer" $? "$(head -5 <<<"$out" | tr '\n' '|')"
in_ct orvo-status --json >"$work/status.json" 2>&1
python3 -c '
import json, sys
d = json.load(open(sys.argv[1]))
assert d["service"]["alive"] is True
assert [p for p in d["printers"] if p["queue"] == "OrvoNet"]
' "$work/status.json" 2>/dev/null
check "orvo-status --json shows the service alive and the printer" $? \
    "$(head -c 200 "$work/status.json" | tr '\n' ' ')"

# The printer's condition in CUPS, and nothing of it left once the service is stopped.
alerts() { in_ct lpstat -l -p "$1" 2>/dev/null | sed -n 's/^[[:space:]]*Alerts: //p'; }
sim_said=$(in_ct python3 /srv/payload/orvo-printer-sim ctl /run/orvo-printer-sim.ctl set-reply-hex \
    "$(cat "$payload/paper.hex")" 2>&1)
until_ct 30 "lpstat -l -p OrvoNet | grep -q 'Alerts:.*media-empty-error'"
check "paper out shows in CUPS" $? "alerts: $(alerts OrvoNet); simulator: $sim_said; \
$(in_ct tail -4 /var/log/cups/access_log | tr '\n' '|') $(in_ct grep -v '^D' /var/log/cups/error_log | tail -4 | tr '\n' '|')"
in_ct systemctl stop $svc
state=$(prop $svc ActiveState)
[ "$state" = inactive ] && [[ $(alerts OrvoNet) != *media-empty-error* ]]
check "systemctl stop takes the service's reasons back" $? "$state, alerts: $(alerts OrvoNet)"
# Cancelling the subscription closes the notifier's input, and it ends.
# (-u lp: the shell that runs the condition has the path in its own command line.)
until_ct 10 "! pgrep -u lp -f /usr/lib/cups/notifier/orvo >/dev/null && ! test -e /run/orvo-statusd/doorbell"
check "systemctl stop cancels the service's subscription" $? \
    "$(in_ct pgrep -u lp -af notifier 2>&1 | tr '\n' ' ') $(in_ct ls /run/orvo-statusd/ 2>&1 | tr '\n' ' ')"
# cupsd saves printers.conf about 30 s after that change, and the path unit fires on it.
until_ct 60 "[ \"\$(systemctl show -P Result $svc)\" = exec-condition ] &&
    [ \"\$(systemctl show -P ActiveState $svc)\" = inactive ]"
rc=$?
state=$(prop $svc ActiveState)
[ $rc = 0 ] && [ "$state" = inactive ]
check "cupsd saving them does not start the stopped service again" $? \
    "$state, result $(prop $svc Result)"
in_ct lpadmin -p OrvoNet -v 'socket://127.0.0.2:9100/?snmp=false&waiteof=false' >/dev/null 2>&1
until_ct 60 "systemctl is-active -q $svc"
check "a changed device URI starts the stopped service" $? "$(prop $svc Result)"
in_ct systemctl stop $svc
in_ct lpadmin -p OrvoNet2 -E -v 'socket://127.0.0.3:9100/?snmp=false' \
    -P /srv/payload/model/Orvo/Orvo_Q7040DN.ppd >/dev/null 2>&1
until_ct 30 "systemctl is-active -q $svc"
check "a new queue starts the stopped service" $? "$(prop $svc Result)"
in_ct systemctl stop $svc
in_ct lpadmin -x OrvoNet2 >/dev/null 2>&1
until_ct 30 "systemctl is-active -q $svc"
check "a removed queue starts the stopped service" $? "$(prop $svc Result)"
in_ct python3 /srv/payload/orvo-printer-sim ctl /run/orvo-printer-sim.ctl set-reply-hex \
    "$(cat "$payload/ready.hex")" >/dev/null 2>&1

in_ct systemctl restart cups.service
until_ct 30 "systemctl is-active -q cups.service && systemctl is-active -q $svc"
rc=$?
[ $rc = 0 ] && [ "$(prop $svc NRestarts)" = 0 ]
check "service runs on after cups.service restarts" $? \
    "$(prop $svc ActiveState), restarts $(prop $svc NRestarts)"

# A cupsd that hangs for 30 s (as one waiting on D-Bus does): cups.service stays active and
# never starts anything again, so the service has to live through it.
cupsd_pid=$(prop cups.service MainPID)
in_ct kill -STOP "$cupsd_pid"
holds_ct 30 "systemctl is-active -q $svc"
rc=$?
in_ct kill -CONT "$cupsd_pid"
[ $rc = 0 ] && [ "$(prop $svc NRestarts)" = 0 ]
check "service runs through a 30 s CUPS hang" $? \
    "$(prop $svc ActiveState), restarts $(prop $svc NRestarts)"
# Within a cycle of CUPS answering, a new queue is in the published list.
in_ct lpadmin -p OrvoNet2 -E -v 'socket://127.0.0.3:9100/?snmp=false' \
    -P /srv/payload/model/Orvo/Orvo_Q7040DN.ppd >>"$work/lpadmin.log" 2>&1
until_ct 8 "grep -qx 'Name=OrvoNet2' $cfg/printerlist.ini"
check "service publishes again within a cycle of CUPS answering" $?
in_ct lpadmin -x OrvoNet2 >>"$work/lpadmin.log" 2>&1

# CUPS stopped: no answer is not "no printers"; the service waits (beyond the four cycles
# without printers that end it) and keeps the published list.
in_ct systemctl stop cups.path cups.socket cups.service
holds_ct 15 "systemctl is-active -q $svc && grep -qx 'Name=OrvoNet' $cfg/printerlist.ini"
rc=$?
[ $rc = 0 ] && [ "$(prop $svc NRestarts)" = 0 ]
check "service waits through a CUPS outage with its list" $? \
    "$(prop $svc ActiveState), restarts $(prop $svc NRestarts)"
# Once the service has ended itself (here: stopped), CUPS starting starts it.
in_ct systemctl stop $svc
in_ct systemctl start cups.service
until_ct 30 "systemctl is-active -q $svc"
check "starting cups starts the service" $?

in_ct systemctl start orvo-add-printer.service >/dev/null 2>&1
rc=$?
[ $rc = 0 ] && [ "$(prop orvo-add-printer.service Result)" = success ]
check "orvo-add-printer.service succeeds with no USB printer" $? \
    "$(prop orvo-add-printer.service Result), status $(prop orvo-add-printer.service ExecMainStatus)"

# An Orvo USB printer as CUPS sees it: the test backend lists it, the maker's PPDs are where
# the queue creation looks for them.
# shellcheck disable=SC2016 # expanded inside the container
in_sh 'mkdir -p /usr/share/cups/model /run/orvo-testenv &&
    cp -r /srv/payload/model/Orvo /usr/share/cups/model/ &&
    echo "usb://Orvo/Q7040DN?serial=SYS0001" >/run/orvo-testenv/usb-devices &&
    b=/usr/lib/cups/backend/usb && install -m "$(stat -c %a $b)" /srv/payload/usb-backend $b'
in_ct systemctl start orvo-add-printer.service >/dev/null 2>&1
rc=$?
in_ct lpstat -v >"$work/lpstat.log" 2>&1
[ $rc = 0 ] && grep -q 'usb://Orvo/Q7040DN?serial=SYS0001' "$work/lpstat.log"
check "orvo-add-printer.service creates the queue of an attached Orvo printer" $? \
    "exit $rc; $(tr '\n' '|' <"$work/lpstat.log")"

# The udev rule, on emulated devices: ours gets both units and the systemd tag, another
# maker's gets neither.
devpath=$(sed -n 's/^P: //p' "$here/orvo-printer.umockdev")
devnum=$(sed -n 's/^A: dev=\([0-9:]*\).*/\1/p' "$here/orvo-printer.umockdev")
udev_props() {
    # udevadm test keeps the device's tags in the udev database; each device starts afresh.
    in_ct rm -f "/run/udev/data/c$devnum"
    in_ct umockdev-run --device "/srv/payload/$1" -- udevadm test "/sys$devpath" 2>/dev/null
}
out=$(udev_props orvo-printer.umockdev)
wants=$(sed -n 's/^SYSTEMD_WANTS=//p' <<<"$out")
grep -qw orvo-add-printer.service <<<"$wants" && grep -qw orvo-statusd.service <<<"$wants" &&
    grep -Eq '^(CURRENT_)?TAGS=.*:systemd:' <<<"$out"
check "udev rule: Orvo device wants both units and gets the systemd tag" $? \
    "SYSTEMD_WANTS=$wants; $(grep -E '^TAGS=' <<<"$out")"
out=$(udev_props other-vendor.umockdev)
! grep -q 'orvo' <<<"$(grep '^SYSTEMD_WANTS=' <<<"$out")" &&
    ! grep -Eq '^(CURRENT_)?TAGS=.*:systemd:' <<<"$out" && grep -q '^ACTION=add' <<<"$out"
check "udev rule: another vendor's device gets neither" $? \
    "$(grep -E '^(SYSTEMD_WANTS|TAGS|ACTION)=' <<<"$out" | tr '\n' ' ')"

# No device allow-list may reach the service: it would shut out the USB device nodes.
state="$(prop $svc DevicePolicy) $(prop $svc DeviceAllow)"
[ "$state" = "auto " ]
check "service keeps access to USB device nodes (no device policy)" $? "$state"
exposure() {
    in_ct systemd-analyze security "$1" 2>/dev/null |
        sed -n 's/.*Overall exposure level for [^:]*: \([0-9.]*\).*/\1/p'
}
for limit in orvo-statusd.service:3.0 orvo-add-printer.service:5.0; do
    unit=${limit%:*}
    figure=$(exposure "$unit")
    echo "     exposure of $unit: ${figure:-unknown} (limit ${limit#*:})"
    [ -n "$figure" ] && awk -v f="$figure" -v l="${limit#*:}" 'BEGIN { exit !(f <= l) }'
    check "systemd-analyze security $unit at most ${limit#*:}" $? "${figure:-no figure}"
done

# The service's USB path inside its sandbox: libusb enumerates, opens, detaches the kernel
# driver, claims and asks for the status of an emulated printer. umockdev emulates /sys and
# /dev/bus/usb in user space, so this proves the system call filter, the address families and
# the file system view, not the kernel's checks on a real device node.
usb_queue=$(sed -n 's|^device for \(.*\): usb://Orvo/Q7040DN?serial=SYS0001$|\1|p' "$work/lpstat.log")
ctl=/run/orvo-usb-sim.ctl
in_ct systemd-run -q --unit=orvo-usb-sim -p RuntimeDirectory=orvo-usb-sim \
    -p Environment=TMPDIR=/run/orvo-usb-sim /srv/payload/orvo-usb-sim --control $ctl \
    --device Q7040DN:SYS0001 --reply /srv/payload/ready.hex --ready /run/orvo-usb-sim.ready
until_ct 20 "test -s /run/orvo-usb-sim.ready" || echo "(USB printer emulator did not start)"
testbed=$(in_ct cat /run/orvo-usb-sim.ready 2>/dev/null)
in_ct /srv/payload/orvo-usb-sim ctl $ctl driver 0 on >/dev/null
in_sh "mkdir -p /run/systemd/system/$svc.d &&
    printf '[Service]\nEnvironment=LD_PRELOAD=libumockdev-preload.so.0 UMOCKDEV_DIR=%s\n' \
        '$testbed' >/run/systemd/system/$svc.d/usb-emulator.conf &&
    systemctl daemon-reload && systemctl restart $svc"
until_ct 30 "test -s '$cfg/$usb_queue.dat'"
rc=$?
counts=$(in_ct /srv/payload/orvo-usb-sim ctl $ctl count 0 2>&1)
[ -n "$usb_queue" ] && [ $rc = 0 ] && [[ $counts =~ status\ [1-9].*detach\ [1-9] ]]
check "sandboxed service reads an emulated USB printer's status" $? \
    "queue '${usb_queue}', emulator: $counts"
in_sh "rm -r /run/systemd/system/$svc.d && systemctl daemon-reload && systemctl stop orvo-usb-sim &&
    systemctl restart $svc"

journal() {
    in_ct journalctl -q -b 0 --no-pager -o short-monotonic -u orvo-statusd.service \
        -u orvo-statusd.path -u orvo-add-printer.service >>"$work/journal.log" 2>&1
}
journal
say "rebooting"
power_off

# --- Second boot: the same root -----------------------------------------------------------
boot again
until_ct 30 "systemctl is-active -q $svc"
check "service runs after a reboot" $?

say "upgrading to $new_version"
apt_install apt-upgrade /srv/payload/orvo-statusd-new.deb
check "package upgrades" $? "$(tail -3 "$work/apt-upgrade.log")"
# shellcheck disable=SC2016
installed=$(in_ct dpkg-query -W -f '${Version}' orvo-statusd 2>/dev/null)
exe=
until_ct 20 "systemctl is-active -q $svc"
pid=$(prop $svc MainPID)
[ -n "$pid" ] && [ "$pid" != 0 ] && exe=$(in_ct readlink "/proc/$pid/exe" 2>/dev/null)
[ "$installed" = "$new_version" ] && [ -n "$exe" ] && [[ $exe != *"(deleted)"* ]]
check "upgrade replaces the running binary" $? "version $installed, running ${exe:-nothing}"
journal

# Nothing in our units' journal hints at a sandbox denial, a crash or a CUPS tool's stderr.
noise='denied|not permitted|Read-only file system|code=(killed|dumped)|core dump|'
noise+='status=(31|6|11)/|SIGSYS|segfault|lpstat:|lpadmin:|lpinfo:|cancel:|: (sh|ps|grep): |'
noise+='Failed with result|failed|error'
grep -Ei "$noise" "$work/journal.log" >"$work/journal-noise.log"
[ ! -s "$work/journal-noise.log" ]
check "journal of our units shows no denial, crash or tool noise" $? \
    "$(head -5 "$work/journal-noise.log" | tr '\n' '|')"
# The package's own scripts say nothing on a working system.
for log in apt-install apt-upgrade; do
    sed -n '/^Preparing to unpack .*orvo-statusd/,$p' "$work/$log.log"
done | grep -Ev '^(Preparing to unpack|Unpacking|Setting up|Processing triggers for|Created symlink|Removed) ' \
    >"$work/script-noise.log"
[ ! -s "$work/script-noise.log" ]
check "maintainer scripts quiet on install and upgrade" $? \
    "$(head -5 "$work/script-noise.log" | tr '\n' '|')"

in_ct apt-get remove -y orvo-statusd >"$work/apt-remove.log" 2>&1
links=$(in_ct find /etc/systemd/system -name 'orvo-*' 2>&1)
[ -z "$links" ] && ! in_ct systemctl is-active -q $svc
check "removal stops the service and leaves no unit link" $? "$(tr '\n' ' ' <<<"$links")"
in_ct apt-get purge -y orvo-statusd >"$work/apt-purge.log" 2>&1
left=$(in_ct find /opt/orvo 2>/dev/null | head -5)
[ -z "$left" ]
check "purge leaves nothing under /opt/orvo" $? "$(tr '\n' ' ' <<<"$left")"
say "powering off"
power_off

say "done: $failed failed check(s)"
[ $failed -eq 0 ]
