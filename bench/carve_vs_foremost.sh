#!/usr/bin/env bash
# Times `halvard carve --out` against `foremost -q` (headers at sector starts only, its fastest mode), both writing
# their files, on a 2 GiB volume of about 1,300 planted JPEG, PNG, PDF and ZIP files (bench/make_carve_volume.py),
# and counts for each: written files equal byte for byte to the planted file at their offset, and false starts
# (written files at an offset where no file was planted).
#
#   bench/carve_vs_foremost.sh [BUILD_DIR]      (default: build/ beside bench/)
#
# Needs: apt-get install foremost libjpeg-turbo-progs libimage-exiftool-perl qpdf
# The volume is built once into BUILD_DIR/bench-data/carve_2g.raw (with carve_2g.manifest). Environment: RUNS
# (default 1) timed runs per tool after one warm-up run.
set -euo pipefail

HERE=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
# shellcheck source=lib.sh
source "$HERE/lib.sh"
RUNS=${RUNS:-1}
bench_setup "${1:-}"
need_tools foremost python3 cjpeg exiftool qpdf

IMAGE=$DATA/carve_2g.raw
MANIFEST=$DATA/carve_2g.manifest
mkdir -p "$DATA"
if ! bench_cached "$IMAGE" "$HERE/make_carve_volume.py"; then
    echo "building $IMAGE ..." >&2
    python3 "$HERE/make_carve_volume.py" "$IMAGE" "$MANIFEST"
    bench_stamp "$IMAGE" "$HERE/make_carve_volume.py"
fi

OUT=$DATA/carve_out
before_run() { rm -rf "$OUT"; mkdir -p "$OUT"; }
# Reads the volume once so that every tool starts from the page cache.
cat "$IMAGE" >/dev/null

run_halvard() {
    "$HALVARD" carve "$IMAGE" --volume custom:RAW:0:2048 --json --out "$OUT/halvard" >"$OUT/halvard.json" 2>/dev/null
}
run_foremost() { foremost -Q -q -t jpg,png,pdf,zip -i "$IMAGE" -o "$OUT/foremost" >/dev/null 2>&1; }

# count KIND FOLDER: "identical false_starts written". Offsets come from halvard's JSON, or from foremost's file
# names (the start in 512-byte sectors).
count() {
    python3 - "$MANIFEST" "$1" "$2" <<'PY'
import hashlib, json, os, sys
manifest, kind, folder = sys.argv[1:]
planted = {}
for line in open(manifest):
    offset, length, digest, ext = line.split()
    planted[int(offset)] = digest
written = []
if kind == "halvard":
    for r in json.load(open(folder + ".json")):
        written.append((r["offset"], os.path.join(folder, r["name"])))
else:
    for root, _, names in os.walk(folder):
        for n in names:
            stem = n.split(".")[0].split("_")[0]
            if n.endswith(".txt") or not stem.isdigit():
                continue
            written.append((int(stem) * 512, os.path.join(root, n)))
same = false_starts = 0
for offset, path in written:
    if offset not in planted:
        false_starts += 1
    elif hashlib.sha256(open(path, "rb").read()).hexdigest() == planted[offset]:
        same += 1
print(same, false_starts, len(written))
PY
}

t_halvard=$(median_seconds "$RUNS" run_halvard)
read -r h_same h_false h_total < <(count halvard "$OUT/halvard")
t_foremost=$(median_seconds "$RUNS" run_foremost)
read -r f_same f_false f_total < <(count foremost "$OUT/foremost")
rm -rf "$OUT"

planted=$(wc -l <"$MANIFEST")
printf '%-10s %8s %8s %12s %13s\n' tool seconds written identical "false starts"
printf '%-10s %8s %8s %12s %13s\n' halvard "$t_halvard" "$h_total" "$h_same/$planted" "$h_false"
printf '%-10s %8s %8s %12s %13s\n' foremost "$t_foremost" "$f_total" "$f_same/$planted" "$f_false"
echo "halvard / foremost time: $(ratio "$t_halvard" "$t_foremost") (goal: at most 0.50)"
