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
BUILD=$(readlink -f "${1:-$HERE/../build}")
HALVARD=$BUILD/src/cli/halvard
DATA=$BUILD/bench-data
RUNS=${RUNS:-5}
DISK=$DATA/fat30k.raw
STAMP=$DATA/fat30k.stamp
SCRIPT_HASH=$(sha256sum "${BASH_SOURCE[0]}" | cut -d' ' -f1)

[[ -x $HALVARD ]] || die "no halvard binary at $HALVARD (build first)"
for tool in fls mkfs.fat mcopy sfdisk python3; do command -v $tool >/dev/null || die "missing tool: $tool"; done
mkdir -p "$DATA"

if [[ ! -f $DISK || ! -f $STAMP || $(cat "$STAMP") != "$SCRIPT_HASH" ]]; then
    echo "fat_listing_vs_fls: building a FAT32 volume of 30,000 files..." >&2
    tmp=$(mktemp -d /tmp/halvard-bench-fat.XXXXXX)
    trap 'rm -rf "$tmp"' EXIT
    python3 - "$tmp/src" <<'PY'
import os, sys
root = sys.argv[1]
for d in range(30):
    folder = os.path.join(root, "%02d folder with a long name" % d)
    os.makedirs(folder)
    for f in range(1000):
        # Long names whose first characters differ: mtools then finds a free 8.3 alias at once.
        with open(os.path.join(folder, "%04d a file with a long name.txt" % f), "w") as out:
            out.write("%d/%d\n" % (d, f))
PY
    part=$tmp/part.raw
    truncate -s 512M "$part"
    mkfs.fat -F 32 -s 8 -h 2048 "$part" >/dev/null
    (cd "$tmp/src" && MTOOLS_SKIP_CHECK=1 mcopy -s -Q -i "$part" ./* ::/ </dev/null)
    rm -f "$DISK"
    truncate -s $((513 * 1024 * 1024)) "$DISK"
    printf 'label: dos\nstart=2048, size=1048576, type=c\n' | sfdisk -q "$DISK" >/dev/null
    dd if="$part" of="$DISK" bs=1M seek=1 conv=notrunc,sparse status=none
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
