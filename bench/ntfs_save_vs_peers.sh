#!/usr/bin/env bash
# Times saving 1 GiB of small and large files from an NTFS volume: `halvard save` of the volume root against
# The Sleuth Kit's `tsk_recover -e` of the same volume and against `cp -r` of the same files from a host folder
# (the host's floor: creating the files dominates). All three write into a new ext4 file system each run, held in
# a file in BUILD_DIR/bench-data, on the same disk as the image.
#
#   bench/ntfs_save_vs_peers.sh [BUILD_DIR]      (default: build/ beside bench/)
#
# The volume (20,000 files of 1-64 KiB and 60 of 1-24 MiB, 1 GiB in all) and its host folder are built once in
# BUILD_DIR/bench-data (a few minutes). Needs root and about 5 GiB free. Environment: RUNS (default 3).
set -euo pipefail

HERE=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
# shellcheck source=lib.sh
source "$HERE/lib.sh"
bench_setup "${1:-}"
IMAGE=$DATA/ntfs_1g_files.img
SOURCE=$DATA/ntfs_1g_source
OUT=$DATA/save-out

[[ -x $HALVARD ]] || { echo "no halvard binary at $HALVARD (build first)" >&2; exit 1; }
mkdir -p "$DATA"
if ! bench_cached "$IMAGE" "${BASH_SOURCE[0]}" || [[ ! -d $SOURCE ]]; then
    echo "ntfs_save_vs_peers: building 1 GiB of files and an NTFS volume holding them..." >&2
    rm -rf "$SOURCE"
    mkdir -p "$SOURCE"
    python3 - "$SOURCE" <<'PY'
import os, random, sys
root = sys.argv[1]
rnd = random.Random(7)
total = 0
for i in range(20000):
    folder = os.path.join(root, "small%03d" % (i % 200))
    os.makedirs(folder, exist_ok=True)
    size = rnd.randint(1024, 65536)
    with open(os.path.join(folder, "file%05d.dat" % i), "wb") as f:
        f.write(rnd.randbytes(size))
    total += size
large = (1 << 30) - total
for i in range(60):
    folder = os.path.join(root, "large")
    os.makedirs(folder, exist_ok=True)
    with open(os.path.join(folder, "big%02d.bin" % i), "wb") as f:
        f.write(rnd.randbytes(large // 60))
PY
    ntfs_volume_from_folder "$IMAGE" 1400 "$SOURCE"
    bench_stamp "$IMAGE" "${BASH_SOURCE[0]}"
fi
volume=custom:NTFS:0:$(($(stat -c %s "$IMAGE") >> 20))
echo "ntfs_save_vs_peers: $(du -sh --apparent-size "$SOURCE" | cut -f1) in $(find "$SOURCE" -type f | wc -l) files"

# Each run writes into a new ext4 file system (a file on the same disk, loop-mounted): writing into a folder where
# the previous run's 20,000 files were just deleted makes ext4 pass over their inodes one by one, which would
# slow each run by what the runs before it left.
OUT_FS=$DATA/save-out.ext4
mkdir -p "$OUT"
finish() { mountpoint -q "$OUT" && umount "$OUT"; rm -f "$OUT_FS"; rmdir "$OUT" 2>/dev/null || true; }
trap finish EXIT
before_run() {
    mountpoint -q "$OUT" && umount "$OUT"
    rm -f "$OUT_FS"
    truncate -s 3G "$OUT_FS"
    mkfs.ext4 -q -F "$OUT_FS"
    mount -o loop "$OUT_FS" "$OUT"
}
run_cp() { cp -r "$SOURCE" "$OUT/copy"; }
run_tsk() { tsk_recover -e "$IMAGE" "$OUT" >/dev/null; }
run_halvard() { "$HALVARD" save "$IMAGE" --volume "$volume" --path / --out "$OUT" >/dev/null 2>&1; }

t_cp=$(median_seconds "$RUNS" run_cp)
t_tsk=$(median_seconds "$RUNS" run_tsk)
t_ours=$(median_seconds "$RUNS" run_halvard)
# The last run's output (halvard's) must hold every source file, byte for byte; the volume's own system files
# come out beside them.
if [[ -z $(diff -rq "$SOURCE" "$OUT" 2>&1 | grep -v "^Only in $OUT") ]]; then
    echo "saved files equal the source"
else
    echo "saved files differ from the source:" >&2
    diff -rq "$SOURCE" "$OUT" 2>&1 | grep -v "^Only in $OUT" | head -5 >&2
fi
echo "cp -r:          $t_cp s (median of $RUNS)"
echo "tsk_recover -e: $t_tsk s"
echo "halvard save:   $t_ours s, ratio to cp $(ratio "$t_ours" "$t_cp"), to tsk_recover $(ratio "$t_ours" "$t_tsk")"
