#!/usr/bin/env bash
# Checks `halvard carve` on the raw recovery fixture (made by tests/fixtures/make_carve_fixtures.sh) with the
# default FileSetting.txt:
#   - every planted file, deleted ones included, is listed at its exact offset with the right extension, with
#     its exact length for the formats carved by end signature or size field (JPEG, PNG, GIF, PDF, ZIP, office,
#     WAV) and at least its length for the approximate ones (MP3, SQLite);
#   - with --out, the written files equal the originals byte for byte, or begin with them (approximate formats);
#   - the numbered volume and a custom RAW volume over the same sectors give the same results;
#   - the image is not changed; without definitions the command refuses to run;
#   - on the format fixture (make_carve_formats_fixtures.sh: one file of each built-in format among random bytes,
#     zeros and look-alike starts), every planted file is carved byte-identical and validated, no other result
#     is listed (no false start, no file reported from inside another), and every look-alike is dropped.
#
#   carve_finds_planted_files.sh BUILD_DIR FIXTURE_DIR
set -euo pipefail

SCRIPT_ARGS=("$@")
source "$(dirname "$(readlink -f "$0")")/check_lib.sh"
check_setup "BUILD_DIR FIXTURE_DIR" python3 cmp sha256sum

IMAGE=$FIXTURES/carve.vhdx
before=$(fingerprint "$IMAGE")

"$HALVARD" carve "$IMAGE" --volume 0 --json --out "$TMP/out" >"$TMP/numbered.json" 2>"$TMP/err" ||
    { cat "$TMP/err"; fail "carve --volume 0 --out exits 0"; }
"$HALVARD" carve "$IMAGE" --volume custom:RAW:2048:16 --json >"$TMP/custom.json"
if cmp -s "$TMP/numbered.json" "$TMP/custom.json"; then
    pass "volume 0 and custom:RAW:2048:16 give the same results"
else
    fail "volume 0 and custom:RAW:2048:16 give the same results"
fi

# 2^54 sectors is the first start whose byte offset no 64-bit offset holds.
status=0
"$HALVARD" carve "$IMAGE" --volume custom:RAW:18014398509481984:16 --json >"$TMP/far.json" 2>"$TMP/far.err" || status=$?
if [[ $status -eq 1 ]] && grep -q "START is past the end of any disk" "$TMP/far.err"; then
    pass "a START past any disk is refused as a usage error"
else
    fail "a START past any disk is refused as a usage error (status $status: $(cat "$TMP/far.err"))"
fi

cat >"$TMP/compare.py" <<'PY'
import json, os, sys
results, manifest, originals, written = sys.argv[1:]
by_offset = {r["offset"]: r for r in json.load(open(results))}
approximate = {".mp3", ".sqlite"}
extension_of = {".sqlite": ".db"}
for line in open(manifest):
    if line.startswith("#"):
        continue
    name, offset, length, deleted = line.split()
    offset, length = int(offset), int(length)
    ext = os.path.splitext(name)[1]
    label = f"{name}{' (deleted)' if deleted == '1' else ''} at {offset}"
    r = by_offset.get(offset)
    if r is None or not r["name"].endswith(" " + extension_of.get(ext, ext)):
        print(f"FAIL {label}: found as {r}")
        continue
    exact = ext not in approximate
    if (r["length"] != length) if exact else (r["length"] < length):
        print(f"FAIL {label}: length {r['length']}, planted {length}")
        continue
    print(f"PASS {label}: listed, length {r['length']}")
    original = open(f"{originals}/{name}", "rb").read()
    carved = open(f"{written}/{r['name']}", "rb").read()
    same = carved == original if exact else carved[:len(original)] == original
    print(f"{'PASS' if same else 'FAIL'} {label}: written file {'equals' if exact else 'begins with'} the original")
PY
while read -r verdict what; do
    if [[ $verdict == PASS ]]; then pass "$what"; else fail "$what"; fi
done < <(python3 "$TMP/compare.py" "$TMP/numbered.json" "$FIXTURES/carve_manifest.txt" "$FIXTURES/carve_files" \
    "$TMP/out" 2>&1 || echo "FAIL compare.py ran to its end")

status=0
"$HALVARD" carve "$IMAGE" --volume 0 --no-default >/dev/null 2>"$TMP/err" || status=$?
if [[ $status -eq 1 ]] && grep -q "Enter the info file first.." "$TMP/err"; then
    pass "without definitions: exit 1 and \"Enter the info file first..\""
else
    fail "without definitions: exit 1 and \"Enter the info file first..\" (exit $status)"
fi

[[ $(fingerprint "$IMAGE") == "$before" ]] && pass "image unchanged" || fail "image unchanged"

FORMATS=$FIXTURES/carve_formats.raw
megabytes=$(( $(stat -c %s "$FORMATS") >> 20 ))
"$HALVARD" carve "$FORMATS" --volume "custom:RAW:0:$megabytes" --json --out "$TMP/formats" >"$TMP/formats.json" \
    2>"$TMP/formats.err" || { cat "$TMP/formats.err"; fail "carve of the format fixture exits 0"; }
cat >"$TMP/formats.py" <<'PY'
import hashlib, json, re, sys
results, manifest, written, summary = sys.argv[1:]
by_offset = {r["offset"]: r for r in json.load(open(results))}
planted = lookalikes = 0
for line in open(manifest):
    if line.startswith("#"):
        continue
    fields = line.split()
    if fields[0] == "lookalike":
        lookalikes += 1
        r = by_offset.pop(int(fields[2]), None)
        print(f"{'FAIL' if r else 'PASS'} look-alike {fields[1]} is not listed{f': {r}' if r else ''}")
        continue
    name, offset, length, digest = fields[0], int(fields[1]), int(fields[2]), fields[3]
    planted += 1
    r = by_offset.pop(offset, None)
    if r is None or r["length"] != length or r["validated"] != "yes":
        print(f"FAIL {name} at {offset}: carved whole and validated ({r})")
        continue
    same = hashlib.sha256(open(f"{written}/{r['name']}", "rb").read()).hexdigest() == digest
    print(f"{'PASS' if same else 'FAIL'} {name} at {offset}: carved byte-identical, validated")
for offset, r in sorted(by_offset.items()):
    print(f"FAIL no false start: {r}")
if not by_offset:
    print(f"PASS no false start and no file reported from inside another ({planted} files)")
counts = re.search(r"(\d+) validated, (\d+) damaged, (\d+) dropped", open(summary).read())
expected = (planted, 0, lookalikes)
got = tuple(int(c) for c in counts.groups()) if counts else None
print(f"{'PASS' if got == expected else 'FAIL'} summary counts validated, damaged, dropped: {got}, expected {expected}")
PY
while read -r verdict what; do
    if [[ $verdict == PASS ]]; then pass "$what"; else fail "$what"; fi
done < <(python3 "$TMP/formats.py" "$TMP/formats.json" "$FIXTURES/carve_formats_manifest.txt" "$TMP/formats" \
    "$TMP/formats.err" 2>&1 || echo "FAIL formats.py ran to its end")
check_end
