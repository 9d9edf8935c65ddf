#!/usr/bin/env bash
# Times listing an ext3 and an ext4 volume with 30,000 files each (`halvard ls --recursive`) against The Sleuth
# Kit's `fls -r -p` on the same raw disk.
#
#   bench/ext_listing_vs_fls.sh [BUILD_DIR]      (default: build/ beside bench/)
#
# The disks are built once and kept in BUILD_DIR/bench-data: an MBR disk with one 256 MiB partition (4 KiB blocks;
# ext4 with its default features) filled by mke2fs -d from a folder of 30,000 small files in 300 folders.
# Environment: RUNS (default 3) timed runs after one warm-up run; TYPES (default "ext3 ext4").
set -euo pipefail

HERE=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
# shellcheck source=lib.sh
source "$HERE/lib.sh"
bench_setup "${1:-}"
TYPES=${TYPES:-ext3 ext4}
SCRIPT_HASH=$(sha256sum "${BASH_SOURCE[0]}" | cut -d' ' -f1)

need_tools mke2fs sfdisk fls
mkdir -p "$DATA"

# bench_type TYPE: builds (once) and times one disk
bench_type() {
    local type=$1
    DISK=$DATA/${type}_30k.raw
    local stamp=$DATA/${type}_30k.stamp
    if [[ ! -f $DISK || ! -f $stamp || $(cat "$stamp") != "$SCRIPT_HASH" ]]; then
        echo "ext_listing_vs_fls: building a 256 MiB $type volume with 30,000 files..." >&2
        local src
        src=$(mktemp -d /tmp/halvard-bench-ext.XXXXXX)
        make_file_tree "$src" 300 100 "folder_%(d)03d" "file_%(d)03d_%(f)05d.txt" $'content of file %(f)d in folder %(d)d\n'
        local part=$DATA/${type}_30k.part
        rm -f "$part"
        truncate -s 256M "$part"
        mke2fs -q -F -t "$type" -b 4096 -N 40000 -d "$src" "$part" >/dev/null
        rm -rf "$src"
        disk_with_volume "$DISK" "$part" 83
        rm -f "$part"
        echo "$SCRIPT_HASH" >"$stamp"
    fi
    echo "ext_listing_vs_fls ($type): $("$HALVARD" ls "$DISK" --volume 0 --recursive 2>/dev/null | wc -l) entries" \
        "(halvard), $(fls -r -p -o 2048 "$DISK" | wc -l) (fls)"
    local t_halvard t_fls
    t_halvard=$(median_seconds "$RUNS" run_halvard)
    t_fls=$(median_seconds "$RUNS" run_fls)
    echo "$type halvard ls --recursive: $t_halvard s"
    echo "$type fls -r -p:              $t_fls s"
    echo "$type ratio halvard/fls:      $(ratio "$t_halvard" "$t_fls")"
}

run_halvard() { "$HALVARD" ls "$DISK" --volume 0 --recursive >/dev/null 2>&1; }
run_fls() { fls -r -p -o 2048 "$DISK" >/dev/null; }

for type in $TYPES; do bench_type "$type"; done
