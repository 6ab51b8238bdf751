#!/usr/bin/env bash
# The layers as the includes show them. Every quoted include names a file of the tree by its path
# from the repository root (or a generated header, or moc output), and each folder reaches only
# into the folders below it:
#   protocol/         itself only: bytes in, fields out
#   service/          the core: protocol/
#   status/           the worker: protocol/, service/
#   devices/          the device manager, which starts the workers: protocol/, service/, status/
#   daemon/           the entry, above every layer
#   tools/status/     orvo-status reads what the service publishes: protocol/, service/ (it links
#                     neither the workers nor the device manager, and so not libusb)
#   tools/addprinter/ queue creation: protocol/, service/, devices/
#   tools/notifier/   the CUPS notifier: protocol/ (the ring it sends)
# tests/ and bench/ may include anything; nothing else includes them.
# Optional second argument: the orvo-status binary, which must hold no code of status/ or
# devices/ (each file pair there is one class named after it) and must not load libusb.
set -uo pipefail
root=${1:?usage: include_layers.sh SOURCE_DIR [ORVO_STATUS_BINARY]}
cd "$root" || exit 1

allowed() {
    case "$1" in
        protocol/*) echo "protocol" ;;
        service/*) echo "protocol service" ;;
        status/*) echo "protocol service status" ;;
        devices/*) echo "protocol service status devices" ;;
        daemon/*) echo "protocol service status devices daemon generated" ;;
        tools/status/*) echo "protocol service tools/status generated" ;;
        tools/addprinter/*) echo "protocol service devices tools/addprinter generated" ;;
        tools/notifier/*) echo "protocol" ;;
        tests/* | bench/*) echo "*" ;;
        *) echo "" ;;
    esac
}

failures=0
fail() {
    echo "$1"
    failures=$((failures + 1))
}

while IFS= read -r file; do
    layers=$(allowed "$file")
    while IFS= read -r line; do
        number=${line%%:*}
        header=$(sed -E 's/^[^"]*"([^"]*)".*/\1/' <<< "${line#*:}")
        case "$header" in
            *.moc) continue ;;
            generated/*) ;;
            *) [ -f "$header" ] || { fail "$file:$number: \"$header\" names no file by its path from the repository root"; continue; } ;;
        esac
        [ "$layers" = "*" ] && continue
        ok=0
        for layer in $layers; do
            [[ "$header" == "$layer/"* ]] && ok=1
        done
        [ $ok = 1 ] || fail "$file:$number: \"$header\" is outside the layers ${file%/*}/ may use (${layers:-none})"
    done < <(grep -nE '^[[:space:]]*#[[:space:]]*include[[:space:]]*"' "$file")
done < <(find protocol service status devices daemon tools tests bench -type f \
             \( -name '*.cpp' -o -name '*.h' -o -name '*.c' \) | sort)

if [ $# -ge 2 ]; then
    binary=$2
    if ldd "$binary" | grep -q 'libusb'; then
        fail "$binary loads libusb"
    fi
    symbols=$(nm -C "$binary") || fail "cannot read the symbols of $binary"
    grep -q 'libusb_' <<< "$symbols" && fail "$binary holds libusb calls"
    for header in status/*.h devices/*.h; do
        class=$(basename "$header" .h)
        if grep -q "[^[:alnum:]_]$class::" <<< "$symbols"; then
            fail "$binary holds code of ${header%.h} ($class)"
        fi
    done
fi

[ $failures = 0 ] && echo "include layers: ok"
exit $((failures > 0))
