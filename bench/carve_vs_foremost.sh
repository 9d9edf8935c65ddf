#!/usr/bin/env bash
# Times `halvard carve --out` against `foremost -q` (headers at sector starts only, its fastest mode) and
# `scalpel -q 512` configured for the same formats, on a 2 GiB volume, and counts for each the written files
# that equal a planted file byte for byte (JPEG, PNG, GIF, PDF, ZIP: the formats carved by end signature).
#
#   bench/carve_vs_foremost.sh [BUILD_DIR]      (default: build/ beside bench/)
#
# Needs: apt-get install foremost scalpel libjpeg-turbo-progs
# The volume is built once into BUILD_DIR/bench-data/carve_2g.raw: half of its MiBs random, the rest zeros, with
# copies of the planted files of the carving fixture (tests/fixtures/make_carve_files.py) written at random
# sector starts. Environment: RUNS (default 1) timed runs per tool after one warm-up run.
set -euo pipefail

die() { echo "carve_vs_foremost: $*" >&2; exit 1; }

HERE=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
# shellcheck source=lib.sh
source "$HERE/lib.sh"
BUILD=$(readlink -f "${1:-$HERE/../build}")
HALVARD=$BUILD/src/cli/halvard
DATA=$BUILD/bench-data
RUNS=${RUNS:-1}

[[ -x $HALVARD ]] || die "no halvard binary at $HALVARD (build first)"
for tool in foremost scalpel python3 cjpeg; do
    command -v "$tool" >/dev/null || die "missing tool: $tool (apt-get install foremost scalpel libjpeg-turbo-progs)"
done

IMAGE=$DATA/carve_2g.raw
ORIGINALS=$DATA/carve_originals
mkdir -p "$DATA"
if ! bench_cached "$IMAGE" "$0"; then
    echo "building $IMAGE ..." >&2
    rm -rf "$ORIGINALS"
    python3 "$HERE/../tests/fixtures/make_carve_files.py" "$ORIGINALS"
    python3 - "$IMAGE" "$ORIGINALS" <<'PY'
import os, random, sys
image, folder = sys.argv[1], sys.argv[2]
size, mib = 2 << 30, 1 << 20
names = ["photo.jpg", "gone.jpg", "image.png", "anim.gif", "report.pdf", "erased.pdf", "archive.zip"]
files = [open(os.path.join(folder, n), "rb").read() for n in names]
rng = random.Random(7)
with open(image, "wb") as out:
    out.truncate(size)
    for m in range(size // mib):
        if rng.random() < 0.5:
            out.seek(m * mib)
            out.write(rng.randbytes(mib))
    # Non-overlapping sector-aligned places, one file in each 4 MiB stretch.
    planted = 0
    for stretch in range(0, size, 4 * mib):
        data = files[planted % len(files)]
        out.seek(stretch + rng.randrange(0, 4 * mib - len(data) - 512) // 512 * 512)
        out.write(data)
        planted += 1
print(f"planted {planted} files", file=sys.stderr)
PY
    bench_stamp "$IMAGE" "$0"
fi

cat >"$DATA/scalpel.conf" <<'EOF2'
jpg  y  20971520   \xff\xd8\xff              \xff\xd9
png  y  20971520   \x89PNG\x0d\x0a\x1a\x0a   IEND\xae\x42\x60\x82
gif  y  10485760   GIF8?a                   \x00\x3b
pdf  y  52428800   %PDF-                    %%EOF\x0a
zip  y  268435456  PK\x03\x04               PK\x05\x06
EOF2

OUT=$DATA/carve_out
before_run() { rm -rf "$OUT"; mkdir -p "$OUT"; }
# Reads the volume once so that every tool starts from the page cache.
cat "$IMAGE" >/dev/null

run_halvard() { "$HALVARD" carve "$IMAGE" --volume custom:RAW:0:2048 --out "$OUT/halvard" >/dev/null 2>&1; }
run_foremost() { foremost -Q -q -t jpg,gif,png,pdf,zip -i "$IMAGE" -o "$OUT/foremost" >/dev/null 2>&1; }
run_scalpel() { scalpel -q 512 -c "$DATA/scalpel.conf" -o "$OUT/scalpel" "$IMAGE" >/dev/null 2>&1; }

t_halvard=$(median_seconds "$RUNS" run_halvard)
identical() {
    python3 - "$ORIGINALS" "$1" <<'PY'
import hashlib, os, sys
want = {hashlib.sha256(open(os.path.join(sys.argv[1], n), "rb").read()).hexdigest()
        for n in os.listdir(sys.argv[1]) if n.rsplit(".", 1)[-1] in ("jpg", "png", "gif", "pdf", "zip")}
count = total = 0
for root, _, names in os.walk(sys.argv[2]):
    for n in names:
        if n.endswith(".txt"):
            continue
        total += 1
        count += hashlib.sha256(open(os.path.join(root, n), "rb").read()).hexdigest() in want
print(count, total)
PY
}
read -r h_same h_total < <(identical "$OUT/halvard")
t_foremost=$(median_seconds "$RUNS" run_foremost)
read -r f_same f_total < <(identical "$OUT/foremost")
t_scalpel=$(median_seconds "$RUNS" run_scalpel)
read -r s_same s_total < <(identical "$OUT/scalpel")
rm -rf "$OUT"

planted=$((2048 / 4))
printf '%-10s %8s %10s %12s\n' tool seconds written identical
printf '%-10s %8s %10s %12s\n' halvard "$t_halvard" "$h_total" "$h_same/$planted"
printf '%-10s %8s %10s %12s\n' foremost "$t_foremost" "$f_total" "$f_same/$planted"
printf '%-10s %8s %10s %12s\n' scalpel "$t_scalpel" "$s_total" "$s_same/$planted"
echo "halvard / foremost time: $(ratio "$t_halvard" "$t_foremost") (goal: at most 0.50)"
