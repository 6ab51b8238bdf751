#!/usr/bin/env bash
# Builds the Debian package from this build tree, unpacks it into a scratch directory and checks
# what it holds: the programs under /usr whatever this tree's prefix, the units (with
# `systemd-analyze verify` where it runs), the udev rule, that every unit starts a program and
# names documentation the package ships, the Depends, the changelog's version and what lintian
# says of the package. Then runs the maintainer scripts where neither systemd nor udevd runs (a
# private mount namespace hides the machine's /run, /opt and unit state): quiet, status 0, units
# enabled and disabled, and nothing of the service left after a purge.
set -euo pipefail
build_dir=$1
here=$(cd "$(dirname "$0")" && pwd)
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT

cd "$build_dir"
cpack -G DEB -B "$scratch/out" > "$scratch/cpack.log" 2>&1 || { cat "$scratch/cpack.log"; exit 1; }
deb=$(ls "$scratch"/out/*.deb)
echo "package: $(basename "$deb")"
dpkg-deb -c "$deb" | awk '{print $6}' | sed 's|^\./|/|' | sort > "$scratch/files"
dpkg-deb -x "$deb" "$scratch/root"
dpkg-deb -e "$deb" "$scratch/control"

fail=0
expect() {
    if ! grep -qx -- "$1" "$scratch/files"; then
        echo "missing from package: $1"
        fail=1
    fi
}
cache_value() {
    grep -m1 "^$1:" CMakeCache.txt | cut -d= -f2
}
prefix=/usr
unitdir=$(cache_value ORVO_SYSTEMD_UNITDIR)
rulesdir=$(cache_value ORVO_UDEV_RULESDIR)
expect "$prefix/sbin/orvo-statusd"
expect "$prefix/sbin/orvo-add-printer"
expect "$prefix/bin/orvo-status"
expect "$unitdir/orvo-statusd.service"
expect "$unitdir/orvo-statusd.path"
expect "$unitdir/orvo-add-printer.service"
expect "$rulesdir/70-orvo-printer.rules"
for page in man1/orvo-status.1 man8/orvo-add-printer.8 man8/orvo-statusd.8; do
    expect "$prefix/share/man/$page.gz"
done
expect "$prefix/share/bash-completion/completions/orvo-status"
expect "$prefix/share/bash-completion/completions/orvo-add-printer"
for doc in README.md changelog.gz copyright; do
    expect "$prefix/share/doc/orvo-statusd/$doc"
done
expect "$prefix/share/lintian/overrides/orvo-statusd"
expect "$prefix/share/orvo-statusd/translations/orvo-status_de.qm"
userunitdir=$(cache_value ORVO_SYSTEMD_USERUNITDIR)
autostartdir=$(cache_value ORVO_XDG_AUTOSTARTDIR)
expect "$userunitdir/orvo-status-notify.service"
expect "$userunitdir/graphical-session.target.wants/orvo-status-notify.service"
expect "$autostartdir/orvo-status-notify.desktop"
expect "$unitdir/orvo-status-prometheus.service"
expect "$unitdir/orvo-status-prometheus.timer"

# Nothing of the test suite or the simulators goes to users; nothing under /usr/local.
if grep -E '/test_|orvo-usb-sim|orvo-printer-sim|^/usr/local' "$scratch/files"; then
    echo "test programs or /usr/local in the package"
    fail=1
fi

for unit in orvo-statusd.service orvo-add-printer.service; do
    exe=$(sed -n 's/^ExecStart=//p' "$scratch/root$unitdir/$unit")
    if [ ! -x "$scratch/root$exe" ]; then
        echo "$unit starts $exe, which the package does not ship"
        fail=1
    fi
done
for file in "$unitdir/orvo-status-prometheus.service" "$userunitdir/orvo-status-notify.service" \
    "$autostartdir/orvo-status-notify.desktop"; do
    exe=$(sed -n 's/^\(ExecStart\|Exec\)=\([^ ]*\).*/\2/p' "$scratch/root$file")
    [ -x "$scratch/root$exe" ] || { echo "$file starts $exe, which the package does not ship"; fail=1; }
done
grep -q 'ATTR{idVendor}=="3a5c"' "$scratch/root$rulesdir/70-orvo-printer.rules" ||
    { echo "udev rule does not match the vendor ID"; fail=1; }
depends=$(sed -n 's/^Depends: //p' "$scratch/control/control" | tr ',' '\n' | awk '{print $1}')
for dep in libqt5core5a libusb-1.0-0 libc6 libstdc++6 cups-client cups-daemon procps; do
    grep -qxF "$dep" <<<"$depends" || { echo "package does not depend on $dep"; fail=1; }
done

# Every Documentation= of the units names a page or file this package ships.
for unit in "$unitdir"/orvo-statusd.service "$unitdir"/orvo-statusd.path \
    "$unitdir"/orvo-add-printer.service "$unitdir"/orvo-status-prometheus.service \
    "$unitdir"/orvo-status-prometheus.timer "$userunitdir"/orvo-status-notify.service; do
    for doc in $(sed -n 's/^Documentation=//p' "$scratch/root$unit"); do
        case $doc in
        man:*\(*\)) page=${doc#man:} && section=${page##*(} && section=${section%)} &&
            doc_file=$prefix/share/man/man$section/${page%(*}.$section.gz ;;
        file://*) doc_file=${doc#file://} ;;
        *) doc_file=$doc ;;
        esac
        [ -f "$scratch/root$doc_file" ] ||
            { echo "$unit: Documentation=$doc is not in the package"; fail=1; }
    done
done

if command -v systemd-analyze >/dev/null 2>&1; then
    # Verify copies whose ExecStart points into the unpacked tree; the machine's own units
    # (sysinit.target, cups.service) resolve the dependencies.
    mkdir "$scratch/units"
    for unit in orvo-statusd.service orvo-statusd.path orvo-add-printer.service \
        orvo-status-prometheus.service orvo-status-prometheus.timer; do
        sed "s|^ExecStart=|ExecStart=$scratch/root|" "$scratch/root$unitdir/$unit" \
            > "$scratch/units/$unit"
    done
    # The user unit, by a user manager of its own (it needs a runtime directory).
    mkdir -m 700 "$scratch/run" "$scratch/user"
    sed "s|^ExecStart=|ExecStart=$scratch/root|" "$scratch/root$userunitdir/orvo-status-notify.service" \
        > "$scratch/user/orvo-status-notify.service"
    # --man=no: the pages are checked above, in the package rather than on this machine.
    XDG_RUNTIME_DIR=$scratch/run systemd-analyze --user verify --man=no \
        "$scratch/user/orvo-status-notify.service" >> "$scratch/verify.log" 2>&1 || fail=1
    if ! systemd-analyze verify --man=no "$scratch"/units/* >> "$scratch/verify.log" 2>&1; then
        cat "$scratch/verify.log"
        fail=1
    elif grep -q 'orvo-' "$scratch/verify.log"; then
        cat "$scratch/verify.log"
        fail=1
    fi
else
    echo "systemd-analyze not available: unit syntax not verified"
fi
# Debian's own checks: no error and no warning; a tag that stays has an override with its reason.
changelog_version=$(zcat "$scratch/root$prefix/share/doc/orvo-statusd/changelog.gz" 2>/dev/null |
    sed -n '1s/^orvo-statusd (\([^)]*\)).*/\1/p' || true)
package_version=$(sed -n 's/^Version: //p' "$scratch/control/control")
[ "$changelog_version" = "$package_version" ] ||
    { echo "changelog is at version '$changelog_version', the package at $package_version"; fail=1; }
if command -v lintian >/dev/null 2>&1; then
    if ! lintian --fail-on error,warning "$deb" > "$scratch/lintian.log" 2>&1; then
        grep -v '^running with root privileges is not recommended!$' "$scratch/lintian.log"
        fail=1
    fi
else
    echo "lintian is not installed (scripts/lib/deps.sh lists it)"
    fail=1
fi
[ $fail -eq 0 ] && echo "package contents ok"

# The maintainer scripts as dpkg runs them in a chroot or a container build.
if ! unshare -m --propagation private bash "$here/maintainer_scripts.sh" \
    "$scratch/control" "$scratch/root$unitdir" "$(readlink -f "$unitdir")"; then
    fail=1
fi
exit $fail
