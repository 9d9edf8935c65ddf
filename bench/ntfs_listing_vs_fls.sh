#!/usr/bin/env bash
# Times listing every entry of an NTFS volume of 100,000 files shaped like a real one (528 folders up to six
# levels deep, 5,000 deleted files; bench/make_listing_disk.sh) inside a dynamic VHDX: `halvard ls --recursive
# --json` and the text listing against The Sleuth Kit's `fls -r -p` on the raw disk the VHDX was made from, all
# writing to /dev/null, and reports each one's peak memory.
#
#   bench/ntfs_listing_vs_fls.sh [BUILD_DIR]      (default: build/ beside bench/)
#
# The disk is built once in BUILD_DIR/bench-data (mkntfs, then ntfs-3g fills it; a few minutes). Needs root.
# Goal: the JSON listing at most 0.5x fls's time and under 64 MiB of peak memory.
# Environment: RUNS (default 3) timed runs after one warm-up run; FILES (default 100000).
set -euo pipefail

HERE=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
# shellcheck source=lib.sh
source "$HERE/lib.sh"
bench_setup "${1:-}"
for tool in fls qemu-img /usr/bin/time; do command -v "$tool" >/dev/null || die "missing tool: $tool"; done

DISK=$(listing_disk ntfs)
VHDX=${DISK%.raw}.vhdx
if [[ ! -f $VHDX || $VHDX -ot $DISK ]]; then
    qemu-img convert -f raw -O vhdx -o subformat=dynamic "$DISK" "$VHDX.tmp"
    mv "$VHDX.tmp" "$VHDX"
fi

echo "entries listed: halvard $("$HALVARD" ls "$VHDX" --volume 0 --recursive | wc -l)" \
    "($("$HALVARD" ls "$VHDX" --volume 0 --recursive --deleted-only | wc -l) deleted)," \
    "fls $(fls -r -p -o 2048 "$DISK" | wc -l)"

run_fls() { fls -r -p -o 2048 "$DISK" >/dev/null; }
run_json() { "$HALVARD" ls "$VHDX" --volume 0 --recursive --json >/dev/null; }
run_text() { "$HALVARD" ls "$VHDX" --volume 0 --recursive >/dev/null; }
t_fls=$(median_seconds "$RUNS" run_fls)
t_json=$(median_seconds "$RUNS" run_json)
t_text=$(median_seconds "$RUNS" run_text)
echo "fls -r -p:                     $t_fls s, peak $(peak_rss_mib fls -r -p -o 2048 "$DISK") MiB (median of $RUNS)"
echo "halvard ls --recursive --json: $t_json s, $(ratio "$t_json" "$t_fls") x fls," \
    "peak $(peak_rss_mib "$HALVARD" ls "$VHDX" --volume 0 --recursive --json) MiB (goal: 0.5 x, 64 MiB)"
echo "halvard ls --recursive:        $t_text s, $(ratio "$t_text" "$t_fls") x fls," \
    "peak $(peak_rss_mib "$HALVARD" ls "$VHDX" --volume 0 --recursive) MiB"
