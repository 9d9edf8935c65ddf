#!/usr/bin/env bash
# Times listing every entry of an NTFS volume of 100,000 files in 1,000 folders: `halvard ls --recursive` against
# The Sleuth Kit's `fls -r -p`, both writing their listing to /dev/null.
#
#   bench/ntfs_listing_vs_fls.sh [BUILD_DIR]      (default: build/ beside bench/)
#
# The volume is built once in BUILD_DIR/bench-data (mkntfs, then ntfs-3g fills it; a few minutes). Needs root.
# Environment: RUNS (default 3) timed runs after one warm-up run; FILES (default 100000).
set -euo pipefail

HERE=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
# shellcheck source=lib.sh
source "$HERE/lib.sh"
bench_setup "${1:-}"
FILES=${FILES:-100000}
IMAGE=$DATA/ntfs_${FILES}_files.img

[[ -x $HALVARD ]] || { echo "no halvard binary at $HALVARD (build first)" >&2; exit 1; }
mkdir -p "$DATA"
if ! bench_cached "$IMAGE" "${BASH_SOURCE[0]}"; then
    echo "ntfs_listing_vs_fls: building a volume of $FILES files..." >&2
    src=$(mktemp -d "$DATA/src.XXXXXX")
    python3 - "$src" "$FILES" <<'PY'
import os, sys
root, files = sys.argv[1], int(sys.argv[2])
for d in range(1000):
    os.mkdir(os.path.join(root, "folder%04d" % d))
for i in range(files):
    with open(os.path.join(root, "folder%04d" % (i % 1000), "document %06d.txt" % i), "wb") as f:
        f.write(b"x" * (i % 3000))
PY
    ntfs_volume_from_folder "$IMAGE" $((256 + FILES * 8 / 1024)) "$src"
    rm -rf "$src"
    bench_stamp "$IMAGE" "${BASH_SOURCE[0]}"
fi
size_mib=$(($(stat -c %s "$IMAGE") >> 20))
volume=custom:NTFS:0:$size_mib

ours=$("$HALVARD" ls "$IMAGE" --volume "$volume" --recursive | wc -l)
theirs=$(fls -r -p "$IMAGE" | wc -l)
echo "entries listed: halvard $ours, fls $theirs"

run_halvard() { "$HALVARD" ls "$IMAGE" --volume "$volume" --recursive >/dev/null; }
run_fls() { fls -r -p "$IMAGE" >/dev/null; }
t_fls=$(median_seconds "$RUNS" run_fls)
t_ours=$(median_seconds "$RUNS" run_halvard)
echo "fls -r -p:              $t_fls s (median of $RUNS)"
echo "halvard ls --recursive: $t_ours s, ratio $(ratio "$t_ours" "$t_fls")"
