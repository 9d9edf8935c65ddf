#!/usr/bin/env bash
# Memory per entry of each engine: `halvard ls --recursive` on NTFS, FAT32, exFAT and ext4 volumes of 100,000
# files (the tree of bench/make_listing_disk.sh: 528 folders up to six levels deep, 5,000 deleted files), with
# its time and peak memory. The engine's own memory per entry is the peak of the big volume less that of the
# same tree with 100 files, divided by the entries listed. Goal: at most 300 bytes per entry.
#
#   bench/listing_memory.sh [BUILD_DIR]      (default: build/ beside bench/)
#
# The disks are built once in BUILD_DIR/bench-data (a few minutes each; the NTFS one is shared with
# ntfs_listing_vs_fls.sh). Needs root. Environment: RUNS (default 3), TYPES (default "ntfs fat32 exfat ext4").
set -euo pipefail

HERE=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
# shellcheck source=lib.sh
source "$HERE/lib.sh"
bench_setup "${1:-}"
TYPES=${TYPES:-ntfs fat32 exfat ext4}
command -v /usr/bin/time >/dev/null || die "missing tool: /usr/bin/time"

printf '%-6s %8s %9s %10s %10s %10s\n' "fs" "entries" "time s" "peak MiB" "tiny MiB" "B/entry"
for fs in $TYPES; do
    disk=$(listing_disk "$fs")
    tiny=$(FILES=100 listing_disk "$fs")
    entries=$("$HALVARD" ls "$disk" --volume 0 --recursive | wc -l)
    run_ls() { "$HALVARD" ls "$disk" --volume 0 --recursive >/dev/null; }
    seconds=$(median_seconds "$RUNS" run_ls 2>/dev/null)
    peak=$(peak_rss_mib "$HALVARD" ls "$disk" --volume 0 --recursive)
    base=$(peak_rss_mib "$HALVARD" ls "$tiny" --volume 0 --recursive)
    printf '%-6s %8s %9s %10s %10s %10s\n' "$fs" "$entries" "$seconds" "$peak" "$base" \
        "$(python3 -c "print(round(($peak - $base) * 1048576 / $entries))")"
done
