# Shell helpers for scripts that run inside orvo-testenv. Source it: . "$ORVO_TESTENV_SCRIPTS/lib.sh"
# Every helper returns non-zero and says why on stderr when it fails.

: "${ORVO_TESTENV_DIR:=/run/orvo-testenv}"
: "${ORVO_TESTENV_SCRIPTS:=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)}"
export CUPS_SERVER=/run/cups/cups.sock

# Seconds since the epoch with microseconds, without starting a process.
_testenv_now() { printf '%s' "${EPOCHREALTIME/[.,]/}"; }

# testenv_wait_for DESCRIPTION TIMEOUT_S COMMAND [ARGS...]
# Runs COMMAND every 20 ms until it succeeds or TIMEOUT_S (may be fractional) has passed.
testenv_wait_for() {
    local what=$1 timeout=$2
    shift 2
    local start deadline
    start=$(_testenv_now)
    deadline=$((start + $(awk -v t="$timeout" 'BEGIN { printf "%d", t * 1000000 }')))
    local fd
    exec {fd}<> <(:)
    while true; do
        if "$@"; then
            exec {fd}>&-
            return 0
        fi
        if (($(_testenv_now) >= deadline)); then
            exec {fd}>&-
            echo "testenv_wait_for: timed out after ${timeout}s waiting for: $what" >&2
            return 1
        fi
        read -r -t 0.02 -u "$fd" _ || true
    done
}

_testenv_scheduler_running() {
    [[ -S /run/cups/cups.sock ]] && [[ $(LC_ALL=C lpstat -r 2>/dev/null) == "scheduler is running" ]]
}

_testenv_pid_alive() {
    local state
    [[ -r /proc/$1/stat ]] || return 1
    state=$(</proc/"$1"/stat) || return 1
    state=${state##*) }
    [[ ${state%% *} != Z ]]
}

# Starts the private cupsd in the background and waits until it answers.
testenv_cupsd_start() {
    if [[ -r $ORVO_TESTENV_DIR/cupsd.pid ]] && _testenv_pid_alive "$(<"$ORVO_TESTENV_DIR/cupsd.pid")"; then
        echo "testenv_cupsd_start: cupsd is already running" >&2
        return 1
    fi
    setsid cupsd -f </dev/null >>/var/log/cups/cupsd.out 2>&1 &
    echo $! >"$ORVO_TESTENV_DIR/cupsd.pid"
    if ! testenv_wait_for "cupsd to answer on /run/cups/cups.sock" 10 _testenv_scheduler_running; then
        tail -n 20 /var/log/cups/cupsd.out /var/log/cups/error_log >&2 2>/dev/null
        return 1
    fi
}

# Stops the private cupsd (SIGTERM) and waits until it is gone.
testenv_cupsd_stop() {
    local pid
    if [[ ! -r $ORVO_TESTENV_DIR/cupsd.pid ]]; then
        echo "testenv_cupsd_stop: no cupsd was started" >&2
        return 1
    fi
    pid=$(<"$ORVO_TESTENV_DIR/cupsd.pid")
    kill -TERM "$pid" 2>/dev/null || true
    testenv_wait_for "cupsd (pid $pid) to exit" 10 eval '! _testenv_pid_alive '"$pid" || return 1
    rm -f "$ORVO_TESTENV_DIR/cupsd.pid"
}

# lpadmin without its "drivers are deprecated" notice; any other message stays on stderr.
testenv_lpadmin() {
    local rc
    { LC_ALL=C lpadmin "$@" 2>&1 1>&3 3>&- |
        sed '/^lpadmin: Printer drivers are deprecated and will stop working in a future version of CUPS\.$/d' >&2; } 3>&1
    rc=${PIPESTATUS[0]}
    return "$rc"
}

# testenv_add_queue NAME URI [MODELNAME | --raw | --ppd FILE | --driver Orvo/Orvo_KEY.ppd]
# Creates an enabled queue. MODELNAME gets a PPD from make-ppd; no third argument means --raw.
testenv_add_queue() {
    if (($# < 2)); then
        echo "usage: testenv_add_queue NAME URI [MODELNAME|--raw|--ppd FILE|--driver NAME]" >&2
        return 2
    fi
    local name=$1 uri=$2 kind=${3:---raw}
    case $kind in
    --raw) testenv_lpadmin -p "$name" -E -v "$uri" ;;
    --ppd) testenv_lpadmin -p "$name" -E -v "$uri" -P "${4:?--ppd needs a file}" ;;
    --driver) testenv_lpadmin -p "$name" -E -v "$uri" -m "${4:?--driver needs a name}" ;;
    *)
        local ppd rc=0
        ppd=$(mktemp "$ORVO_TESTENV_DIR/.ppd.XXXXXX") || return 1
        "$ORVO_TESTENV_SCRIPTS/make-ppd" "$kind" >"$ppd" &&
            testenv_lpadmin -p "$name" -E -v "$uri" -P "$ppd" || rc=$?
        rm -f "$ppd"
        return "$rc"
        ;;
    esac
}

testenv_remove_queue() {
    LC_ALL=C lpadmin -x "${1:?usage: testenv_remove_queue NAME}"
}

# testenv_set_usb_devices [URI...]: the devices the usb backend reports (none without arguments).
testenv_set_usb_devices() {
    local tmp
    tmp=$(mktemp "$ORVO_TESTENV_DIR/.usb-devices.XXXXXX") || return 1
    if (($#)); then printf '%s\n' "$@" >"$tmp"; fi
    chmod 0644 "$tmp"
    mv -f "$tmp" "$ORVO_TESTENV_DIR/usb-devices"
}

# Lets every job on a usb queue finish with STATUS (default 0), or keeps them printing again.
testenv_usb_release() { printf '%s\n' "${1:-0}" >"$ORVO_TESTENV_DIR/usb-release"; }
testenv_usb_hold() { rm -f "$ORVO_TESTENV_DIR/usb-release"; }

# testenv_usb_state [LINE...]: messages the usb backend sends while a job prints
# (for example "STATE: +media-empty-error"); no argument clears them.
testenv_usb_state() {
    local tmp
    tmp=$(mktemp "$ORVO_TESTENV_DIR/.usb-state.XXXXXX") || return 1
    if (($#)); then printf '%s\n' "$@" >"$tmp"; fi
    chmod 0644 "$tmp"
    mv -f "$tmp" "$ORVO_TESTENV_DIR/usb-state"
}
