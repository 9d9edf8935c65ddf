#!/usr/bin/env bash
# Times listing a FAT32 volume of 30,000 files (`halvard ls --recursive`) against The Sleuth Kit's
# `fls -r -p` on the same raw disk.
#
#   bench/fat_listing_vs_fls.sh [BUILD_DIR]      (default: build/ beside bench/)
#
# The disk is built once and kept in BUILD_DIR/bench-data: an MBR and a 512 MiB FAT32 volume (4 KiB clusters)
# holding 30 folders of 1,000 files with long names, written by mtools. Goal: halvard at most half of fls's time.
# Environment: RUNS (default 5) timed runs after one warm-up run.
set -euo pipefail

HERE=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
# shellcheck source=lib.sh
source "$HERE/lib.sh"
RUNS=${RUNS:-5}
bench_setup "${1:-}"
DISK=$DATA/fat30k.raw
STAMP=$DATA/fat30k.stamp
SCRIPT_HASH=$(sha256sum "${BASH_SOURCE[0]}" | cut -d' ' -f1)

need_tools fls mkfs.fat mcopy sfdisk python3
mkdir -p "$DATA"

if [[ ! -f $DISK || ! -f $STAMP || $(cat "$STAMP") != "$SCRIPT_HASH" ]]; then
    echo "fat_listing_vs_fls: building a FAT32 volume of 30,000 files..." >&2
    tmp=$(mktemp -d /tmp/halvard-bench-fat.XXXXXX)
    trap 'rm -rf "$tmp"' EXIT
    # Long names whose first characters differ: mtools then finds a free 8.3 alias at once.
    make_file_tree "$tmp/src" 30 1000 "%(d)02d folder with a long name" "%(f)04d a file with a long name.txt" \
        $'%(d)d/%(f)d\n'
    part=$tmp/part.raw
    truncate -s 512M "$part"
    mkfs.fat -F 32 -s 8 -h 2048 "$part" >/dev/null
    (cd "$tmp/src" && MTOOLS_SKIP_CHECK=1 mcopy -s -Q -i "$part" ./* ::/ </dev/null)
    disk_with_volume "$DISK" "$part" c
    echo "$SCRIPT_HASH" >"$STAMP"
fi

run_fls() { fls -r -p -o 2048 "$DISK" >/dev/null; }
run_halvard() { "$HALVARD" ls "$DISK" --volume 0 --recursive >/dev/null; }

echo "fat_listing_vs_fls: $(fls -r -p -o 2048 "$DISK" | wc -l) entries from fls," \
    "$("$HALVARD" ls "$DISK" --volume 0 --recursive | wc -l) from halvard"
t_fls=$(median_seconds "$RUNS" run_fls)
t_halvard=$(median_seconds "$RUNS" run_halvard)
echo "fls -r -p:              $t_fls s"
echo "halvard ls --recursive: $t_halvard s ($(ratio "$t_halvard" "$t_fls") x fls; goal at most 0.5)"
