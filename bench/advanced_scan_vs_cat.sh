#!/usr/bin/env bash
# Times the whole-disk volume scan (`halvard volumes --advanced`, with and without --no-skip) against reading the
# image file once (`cat IMAGE > /dev/null`) on a 4 GiB VHDX whose blocks are nearly all allocated.
#
#   bench/advanced_scan_vs_cat.sh [BUILD_DIR]      (default: build/ beside bench/)
#
# The disk is built once and kept in BUILD_DIR/bench-data: random bytes everywhere (so every block is stored),
# an MBR, and quick-formatted NTFS, FAT32 and exFAT volumes over the random data. Needs root for the loop device.
# Environment: RUNS (default 3) timed runs after one warm-up run.
set -euo pipefail

HERE=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
# shellcheck source=lib.sh
source "$HERE/lib.sh"
bench_setup "${1:-}"
VHDX=$DATA/scan4g.vhdx
STAMP=$DATA/scan4g.stamp
SCRIPT_HASH=$(sha256sum "${BASH_SOURCE[0]}" | cut -d' ' -f1)

mkdir -p "$DATA"

if [[ ! -f $VHDX || ! -f $STAMP || $(cat "$STAMP") != "$SCRIPT_HASH" ]]; then
    [[ $EUID -eq 0 ]] || die "building the test disk needs root (loop device)"
    raw=$DATA/scan4g.raw
    echo "advanced_scan_vs_cat: building a 4 GiB disk of random data with three volumes..." >&2
    head -c $((4 * 1024 * 1024 * 1024)) /dev/urandom >"$raw"
    printf 'label: dos\nstart=2048, size=4194304, type=7\nstart=4196352, size=2097152, type=c\nstart=6293504, size=2095104, type=7\n' |
        sfdisk -q "$raw" >/dev/null
    # One loop device per partition, by offset (no partition device nodes are needed).
    format_part() {
        local start=$1 sectors=$2 loop
        shift 2
        loop=$(losetup --find --show --offset $((start * 512)) --sizelimit $((sectors * 512)) "$raw")
        "$@" "$loop" >/dev/null 2>&1 || { losetup -d "$loop"; die "$1 failed"; }
        losetup -d "$loop"
    }
    format_part 2048 4194304 mkntfs -q -Q -F -p 2048
    format_part 4196352 2097152 mkfs.fat -F 32 -h 4196352
    format_part 6293504 2095104 mkfs.exfat
    sync
    qemu-img convert -f raw -O vhdx -o subformat=dynamic "$raw" "$VHDX"
    rm -f "$raw"
    echo "$SCRIPT_HASH" >"$STAMP"
fi
echo "advanced_scan_vs_cat: $VHDX: $(($(stat -c %s "$VHDX") >> 20)) MiB file"

run_cat() { cat "$VHDX" >/dev/null; }
run_skip() { "$HALVARD" volumes "$VHDX" --advanced >/dev/null; }
run_noskip() { "$HALVARD" volumes "$VHDX" --advanced --no-skip >/dev/null; }

"$HALVARD" volumes "$VHDX" --advanced
t_cat=$(median_seconds "$RUNS" run_cat)
t_skip=$(median_seconds "$RUNS" run_skip)
t_noskip=$(median_seconds "$RUNS" run_noskip)

echo "cat IMAGE > /dev/null:              $t_cat s (median of $RUNS)"
echo "halvard volumes --advanced:          $t_skip s, ratio $(ratio "$t_skip" "$t_cat")"
echo "halvard volumes --advanced --no-skip: $t_noskip s, ratio $(ratio "$t_noskip" "$t_cat")"
