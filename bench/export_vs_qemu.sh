#!/usr/bin/env bash
# Times `halvard export` against `qemu-img convert -O raw` on a 2 GiB dynamic VHDX (32 MiB blocks)
# with data and empty parts, and on a fully allocated 1 GiB one of random bytes, and checks both tools
# give the same raw disk.
#
#   bench/export_vs_qemu.sh [BUILD_DIR]      (default: build/ beside bench/)
#
# The test disk is built once and its VHDX kept in BUILD_DIR/bench-data: an MBR disk with one NTFS
# partition holding ~1.2 GiB of random files written through ntfs-3g (needs root), or,
# without root, a raw disk of random and zero regions (about two thirds random).
# Environment: RUNS (default 3) timed runs per tool after one warm-up run.
set -euo pipefail

HERE=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
# shellcheck source=lib.sh
source "$HERE/lib.sh"
bench_setup "${1:-}"

need_tools qemu-img python3 cmp sfdisk

DISK_BYTES=$((2 * 1024 * 1024 * 1024))
RAW=$DATA/disk.raw
VHDX=$DATA/disk.vhdx
FULL=$DATA/full.vhdx
STAMP=$DATA/stamp
SCRIPT_HASH=$(sha256sum "${BASH_SOURCE[0]}" | cut -d' ' -f1)

WORK=
MNT=
NTFS_PID=
cleanup() {
    if [[ -n $MNT ]] && mountpoint -q "$MNT" 2>/dev/null; then
        umount "$MNT" || umount -l "$MNT" || true
    fi
    [[ -z $NTFS_PID ]] || wait "$NTFS_PID" 2>/dev/null || true
    [[ -z $WORK ]] || rm -rf "$WORK"
    rm -f "$DATA/out-halvard.img" "$DATA/out-qemu.img"
}
trap cleanup EXIT
trap 'exit 130' INT TERM

# NTFS partition from sector 2048, filled with random files of 1-64 MiB up to ~1.2 GiB.
make_ntfs_disk() {
    local part=$WORK/part.raw psectors=$((DISK_BYTES / 512 - 2048))
    truncate -s $((psectors * 512)) "$part"
    mkntfs -q -F -Q -s 512 -p 2048 -H 255 -S 63 -L BENCH "$part" 2>/dev/null || die "mkntfs failed"
    MNT=$WORK/mnt
    mkdir -p "$MNT"
    ntfs-3g -o no_detach,noatime "$part" "$MNT" >"$WORK/ntfs-3g.log" 2>&1 &
    NTFS_PID=$!
    for _ in $(seq 100); do mountpoint -q "$MNT" && break; sleep 0.1; done
    mountpoint -q "$MNT" || die "ntfs-3g could not mount the bench volume"
    python3 - "$MNT" <<'PY'
import os, random, sys
root = sys.argv[1]
rng = random.Random(2024)
total, target, n = 0, 1200 * 2**20, 0
while total < target:
    folder = os.path.join(root, "dir%02d" % (n // 10))
    os.makedirs(folder, exist_ok=True)
    size = min(rng.randint(2**20, 64 * 2**20), target - total)
    with open(os.path.join(folder, "file%03d.bin" % n), "wb") as f:
        f.write(os.urandom(size))
    total += size
    n += 1
print("export_vs_qemu: wrote %d files, %d MiB" % (n, total >> 20))
PY
    umount "$MNT"
    wait "$NTFS_PID" || true
    NTFS_PID=
    disk_with_volume "$RAW.tmp" "$part" 7
    rm -f "$part"
}

# Runs of random data (1-48 MiB) and zeros (1-24 MiB) over the whole disk, behind an MBR.
make_mixed_disk() {
    python3 - "$RAW.tmp" "$DISK_BYTES" <<'PY'
import os, random, sys
path, size = sys.argv[1], int(sys.argv[2])
rng = random.Random(2024)
with open(path, "wb") as f:
    f.truncate(size)
    pos, data = 2**20, 0
    while pos < size:
        run = min(rng.randint(1, 48) * 2**20, size - pos)
        f.seek(pos)
        f.write(os.urandom(run))
        data += run
        pos += run + rng.randint(1, 24) * 2**20 + rng.randint(0, 7) * 512
print("export_vs_qemu: %d%% random" % (100 * data // size))
PY
    printf 'label: dos\nstart=2048, type=7\n' | sfdisk -q "$RAW.tmp" >/dev/null
}

if [[ ! -f $VHDX || ! -f $STAMP || $(cat "$STAMP") != "$SCRIPT_HASH" ]]; then
    mkdir -p "$DATA"
    rm -f "$RAW" "$RAW.tmp" "$VHDX" "$STAMP"
    WORK=$(mktemp -d "$DATA/work.XXXXXX")
    echo "export_vs_qemu: building the 2 GiB test disk in $DATA (once)"
    if [[ $EUID -eq 0 ]] && command -v mkntfs >/dev/null && command -v ntfs-3g >/dev/null && [[ -e /dev/fuse ]]; then
        make_ntfs_disk
    else
        make_mixed_disk
    fi
    mv "$RAW.tmp" "$RAW"
    qemu-img convert -f raw -O vhdx -o subformat=dynamic,block_size=32M "$RAW" "$VHDX"
    rm -f "$RAW"
    rm -rf "$WORK"
    WORK=
    echo "$SCRIPT_HASH" >"$STAMP"
fi
if [[ ! -f $FULL || ! -f $FULL.stamp || $(cat "$FULL.stamp") != "$SCRIPT_HASH" ]]; then
    mkdir -p "$DATA"
    echo "export_vs_qemu: building the fully allocated 1 GiB test disk in $DATA (once)"
    head -c $((1024 * 1024 * 1024)) /dev/urandom >"$DATA/full.raw"
    qemu-img convert -f raw -O vhdx -o subformat=dynamic,block_size=32M "$DATA/full.raw" "$FULL"
    rm -f "$DATA/full.raw"
    echo "$SCRIPT_HASH" >"$FULL.stamp"
fi

OUT_H=$DATA/out-halvard.img
OUT_Q=$DATA/out-qemu.img
before_run() { rm -f "$current_out"; }
run_halvard() { "$HALVARD" export "$IMAGE" "$OUT_H" >/dev/null; }
run_qemu() { qemu-img convert -f vhdx -O raw "$IMAGE" "$OUT_Q"; }

status=0
for IMAGE in "$VHDX" "$FULL"; do
    echo "export_vs_qemu: $IMAGE: $(($(stat -c %s "$IMAGE") >> 20)) MiB file, $(($(qemu-img info --output=json "$IMAGE" | python3 -c 'import json,sys; print(json.load(sys.stdin)["virtual-size"])') >> 20)) MiB disk"
    current_out=$OUT_H
    t_h=$(median_seconds "$RUNS" run_halvard)
    current_out=$OUT_Q
    t_q=$(median_seconds "$RUNS" run_qemu)
    if cmp -s "$OUT_H" "$OUT_Q"; then
        same="identical"
    else
        same="DIFFERENT"
        status=1
    fi
    rm -f "$OUT_H" "$OUT_Q"
    echo "halvard export:          $t_h s (median of $RUNS)"
    echo "qemu-img convert -O raw: $t_q s (median of $RUNS)"
    echo "ratio halvard/qemu:      $(ratio "$t_h" "$t_q")"
    echo "outputs:                 $same"
done
exit $status
