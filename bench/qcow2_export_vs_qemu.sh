#!/usr/bin/env bash
# Times `halvard export` against `qemu-img convert -O raw` on 1 GiB qcow2 images, plain and compressed (deflate
# and zstd), and checks both give the same raw disk.
#
#   bench/qcow2_export_vs_qemu.sh [BUILD_DIR]      (default: build/ beside bench/)
#
# The test disk (kept in BUILD_DIR/bench-data): 1 GiB of which about two thirds are compressible text and
# random bytes in 1 MiB runs, the rest zeros. Environment: RUNS (default 3) timed runs per tool after a warm-up.
set -euo pipefail

HERE=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
# shellcheck source=lib.sh
source "$HERE/lib.sh"
bench_setup "${1:-}"

need_tools qemu-img python3 cmp
mkdir -p "$DATA"
RAW=$DATA/qcow2-bench.raw
trap 'rm -f "$DATA/out-halvard.img" "$DATA/out-qemu.img"' EXIT

if ! bench_cached "$RAW" "${BASH_SOURCE[0]}"; then
    python3 - "$RAW" <<'PY'
import os, random, sys
random.seed(7)
text = b"".join(b"line %d: the quick brown fox jumps over the lazy dog\n" % i for i in range(20000))
with open(sys.argv[1], "wb") as f:
    f.truncate(1 << 30)
    for mib in range(1024):
        kind = mib % 3
        if kind == 2:
            continue
        f.seek(mib << 20)
        f.write((text * 2)[: 1 << 20] if kind == 0 else os.urandom(1 << 20))
PY
    for variant in plain zlib zstd; do
        case $variant in
            plain) opts=() ;;
            zlib) opts=(-c) ;;
            zstd) opts=(-c -o compression_type=zstd) ;;
        esac
        rm -f "$DATA/qcow2-bench-$variant.qcow2"
        qemu-img convert -f raw -O qcow2 "${opts[@]}" "$RAW" "$DATA/qcow2-bench-$variant.qcow2"
    done
    bench_stamp "$RAW" "${BASH_SOURCE[0]}"
fi

before_run() { rm -f "$DATA/out-halvard.img" "$DATA/out-qemu.img"; }
halvard_export() { "$HALVARD" export "$1" "$2" >/dev/null; }
for variant in plain zlib zstd; do
    img=$DATA/qcow2-bench-$variant.qcow2
    echo "$variant ($(stat -c %s "$img") bytes):"
    ours=$(median_seconds "$RUNS" halvard_export "$img" "$DATA/out-halvard.img")
    theirs=$(median_seconds "$RUNS" qemu-img convert -f qcow2 -O raw "$img" "$DATA/out-qemu.img")
    before_run
    "$HALVARD" export "$img" "$DATA/out-halvard.img" >/dev/null
    qemu-img convert -f qcow2 -O raw "$img" "$DATA/out-qemu.img"
    cmp -s "$DATA/out-halvard.img" "$DATA/out-qemu.img" || die "$variant: the exports differ"
    echo "  halvard export ${ours} s, qemu-img convert ${theirs} s: $(ratio "$ours" "$theirs")x"
done
