#!/usr/bin/env bash
# maintainer_scripts.sh CONTROL_DIR PACKAGE_UNIT_DIR UNIT_DIR
# Run by test_package.sh inside its own mount namespace: the package's maintainer scripts where
# neither systemd nor udevd runs, as in a chroot or a container build. Empty tmpfs mounts stand
# for /run, /opt and the unit state, so the machine's own stay untouched.
set -uo pipefail
control=$1 package_units=$2 unitdir=$3
for dir in /run /opt /etc/systemd/system /var/lib/systemd "$unitdir"; do
    mkdir -p "$dir" && mount -t tmpfs maint "$dir" || exit 1
done
cp "$package_units"/orvo-* "$unitdir"/
export DPKG_MAINTSCRIPT_PACKAGE=orvo-statusd

fail=0
# run SCRIPT ARGS...: dpkg would show any output; the script must say nothing and succeed.
run() {
    local out status=0
    out=$(DPKG_MAINTSCRIPT_NAME=$1 sh "$control/$1" "${@:2}" 2>&1) || status=$?
    if [[ $status != 0 || -n $out ]]; then
        echo "FAIL: $* (status $status): $out"
        fail=1
    fi
}
links() { find /etc/systemd/system -name 'orvo-*' | sort; }
expect_links() {
    local what=$1 expected
    expected=$(printf '%s\n' "${@:2}")
    if [[ $(links) != "$expected" ]]; then
        echo "FAIL: $what: unit links are"
        links | sed 's/^/  /'
        fail=1
    fi
}
enabled=(/etc/systemd/system/cups.service.wants/orvo-statusd.service
         /etc/systemd/system/multi-user.target.wants/orvo-statusd.service
         /etc/systemd/system/paths.target.wants/orvo-statusd.path)

run postinst configure
expect_links "install" "${enabled[@]}"
run postinst configure 0.9.0
expect_links "upgrade" "${enabled[@]}"
# What the administrator disabled stays disabled through an upgrade.
rm /etc/systemd/system/*/orvo-statusd.service
run postinst configure 0.9.1
expect_links "upgrade after disabling" "${enabled[2]}"
run prerm remove
run postrm remove
expect_links "removal"

# Reinstalled, the service has run and somebody keeps a file of their own next to its files.
run postinst configure
expect_links "reinstall" "${enabled[@]}"
root=/opt/orvo/q70_series_printer
mkdir -p $root/cfg $root/temp $root/log /opt/orvo/desktop
touch $root/cfg/printerlist.ini $root/cfg/printerlist.ini.lock $root/cfg/service.hb \
    "$root/cfg/Büro 2.dat" $root/cfg/printer_0.tmp $root/cfg/printerlist.20261208101010 \
    $root/temp/pslist.tmp $root/log/log_srv_20261208_101010_0.log $root/cfg/notes.txt \
    /opt/orvo/desktop/app.ini
run prerm remove
run postrm remove
run postrm purge
expect_links "purge"
left=$(cd /opt && find . -mindepth 1 | sort | tr '\n' ' ')
expected="./orvo ./orvo/desktop ./orvo/desktop/app.ini ./orvo/q70_series_printer"
expected+=" ./orvo/q70_series_printer/cfg ./orvo/q70_series_printer/cfg/notes.txt "
if [[ $left != "$expected" ]]; then
    echo "FAIL: after purge /opt holds: $left"
    fail=1
fi
if [[ -n $(find /var/lib/systemd -name '*orvo*') ]]; then
    echo "FAIL: unit state left after purge:"
    find /var/lib/systemd -name '*orvo*'
    fail=1
fi
# Without other files, purge leaves nothing at all.
run postinst configure
mkdir -p $root/cfg $root/temp $root/log
touch $root/cfg/service.hb $root/log/log_srv_20261208_101010_0.log
rm -rf /opt/orvo/desktop $root/cfg/notes.txt
run prerm remove
run postrm remove
run postrm purge
[[ ! -e /opt/orvo ]] || { echo "FAIL: /opt/orvo left after purge"; fail=1; }

((fail == 0)) && echo "maintainer scripts ok"
exit $fail
