# Sourced by scripts/test and scripts/demo: installs the Debian packages the build, the tests and
# the demo need. Idempotent and quiet when nothing is missing.

ORVO_PACKAGES=(
    cmake ninja-build g++ clang clang-format-15 pkg-config
    qtbase5-dev qttools5-dev qttools5-dev-tools libusb-1.0-0-dev libcups2-dev
    cups cups-client cups-bsd
    umockdev libumockdev-dev libglib2.0-dev
    libfuzzer-14-dev libclang-rt-14-dev
    python3 iproute2 util-linux procps
    systemd udev dpkg-dev file lintian
    systemd-container debootstrap zstd
    dbus-daemon python3-prometheus-client ccache
)

# promtool checks the export's naming; it ships only inside Debian's prometheus package, whose
# installation would also enable a Prometheus server at the next boot. The tests take the one
# program out of the package into a cache instead.
ORVO_TOOL_CACHE=/var/cache/orvo-test-tools

orvo_install_promtool() {
    [ -x /usr/bin/promtool ] || [ -x "$ORVO_TOOL_CACHE/prometheus/usr/bin/promtool" ] && return 0
    local tmp
    tmp=$(mktemp -d) || return 1
    (cd "$tmp" && apt-get download -qq prometheus > /tmp/orvo-apt.log 2>&1) &&
        mkdir -p "$ORVO_TOOL_CACHE" &&
        dpkg-deb -x "$tmp"/prometheus_*.deb "$tmp/root" &&
        mkdir -p "$ORVO_TOOL_CACHE/prometheus/usr/bin" &&
        mv "$tmp/root/usr/bin/promtool" "$ORVO_TOOL_CACHE/prometheus/usr/bin/promtool" ||
        { cat /tmp/orvo-apt.log >&2; rm -rf "$tmp"; return 1; }
    rm -rf "$tmp"
}

orvo_install_deps() {
    orvo_install_packages && orvo_install_promtool && orvo_use_compiler_cache
}

# Three presets and the boot test's release build compile the same sources again and again; a
# compiler cache keyed by paths relative to the checkout serves every clone and build tree of it.
orvo_use_compiler_cache() {
    command -v ccache > /dev/null || return 0
    export CMAKE_C_COMPILER_LAUNCHER=ccache CMAKE_CXX_COMPILER_LAUNCHER=ccache
    CCACHE_BASEDIR=$(pwd -P)
    export CCACHE_BASEDIR CCACHE_NOHASHDIR=1
}

orvo_install_packages() {
    local missing=() pkg
    for pkg in "${ORVO_PACKAGES[@]}"; do
        if ! dpkg-query -W -f='${Status}' "$pkg" 2>/dev/null | grep -q 'install ok installed'; then
            missing+=("$pkg")
        fi
    done
    [ ${#missing[@]} -eq 0 ] && return 0
    if [ "$(id -u)" -ne 0 ]; then
        echo "Missing packages: ${missing[*]}; run as root or install them first." >&2
        return 1
    fi
    echo "Installing: ${missing[*]}"
    export DEBIAN_FRONTEND=noninteractive
    apt-get update -qq
    # policy-rc.d keeps the package scripts from starting the machine's own cupsd: the tests
    # run a private one and must never talk to another.
    local policy=/usr/sbin/policy-rc.d created_policy=0
    if [ ! -e "$policy" ]; then
        printf '#!/bin/sh\nexit 101\n' > "$policy"
        chmod 755 "$policy"
        created_policy=1
    fi
    apt-get install -y -qq --no-install-recommends "${missing[@]}" > /tmp/orvo-apt.log 2>&1 ||
        { cat /tmp/orvo-apt.log >&2; [ $created_policy = 1 ] && rm -f "$policy"; return 1; }
    [ $created_policy = 1 ] && rm -f "$policy"
    return 0
}
