#!/usr/bin/env bash
# Cross-checks `halvard export` and `halvard info` against qemu-img on every VHDX in
# FIXTURE_DIR (made by tests/fixtures/make_fixtures.sh):
#   - the exported raw disk is byte for byte what `qemu-img convert -O raw` gives;
#   - export refuses to overwrite an existing output file and leaves it alone;
#   - info --json reports qemu's virtual size and cluster (block) size, and the logical sector
#     size and allocated block count found in the image's own tables;
#   - neither command changes the image file (content or modification time).
#
#   export_matches_qemu.sh BUILD_DIR FIXTURE_DIR
set -euo pipefail

SCRIPT_ARGS=("$@")
source "$(dirname "$(readlink -f "$0")")/check_lib.sh"
check_setup "BUILD_DIR FIXTURE_DIR" qemu-img python3 cmp sha256sum

# The images qemu-img wrote; the vhdx_* ones (logs, bad checksums) have their own check.
shopt -s nullglob
images=()
for img in "$FIXTURES"/*.vhdx; do [[ $(basename "$img") == vhdx_* ]] || images+=("$img"); done
shopt -u nullglob
if [[ ${#images[@]} -eq 0 ]]; then
    echo "no .vhdx fixtures in $FIXTURES (run tests/fixtures/make_fixtures.sh $FIXTURES)" >&2
    exit 2
fi

# Compares `halvard info --json` with `qemu-img info` and with the image's own block
# table; prints one "ok|bad<TAB>what" line per field.
compare_info() {
    python3 - "$1" "$2" "$3" <<'PY'
import json, struct, sys, uuid
ours_path, qemu_path, image_path = sys.argv[1:4]
try:
    ours = json.load(open(ours_path))
except ValueError as e:
    print("bad\tinfo --json is not JSON (%s)" % e)
    sys.exit()
if isinstance(ours, list) and len(ours) == 1:
    ours = ours[0]
if not isinstance(ours, dict):
    print("bad\tinfo --json is not one object")
    sys.exit()
qemu = json.load(open(qemu_path))


def check(what, got, want, source="qemu-img"):
    print("%s\t%s = %r (%s: %r)" % ("ok" if got == want else "bad", what, got, source, want))


missing = [k for k in ("format", "version", "virtual_size", "block_size", "logical_sector_size",
                       "differencing", "allocated_blocks") if k not in ours]
print("%s\tfields present%s" % ("bad" if missing else "ok", ": missing " + ", ".join(missing) if missing else ""))
check("format", str(ours.get("format", "")).lower(), "vhdx")
check("virtual_size", ours.get("virtual_size"), qemu["virtual-size"])
check("differencing", ours.get("differencing"), "backing-filename" in qemu)
if qemu.get("cluster-size"):
    check("block_size", ours.get("block_size"), qemu["cluster-size"])

# qemu-img maps every VHDX block as data, so the allocated blocks and the logical
# sector size are read here from the region table, the metadata table and the BAT.
with open(image_path, "rb") as f:
    def read(offset, length):
        f.seek(offset)
        return f.read(length)
    regions = {}
    table = read(192 * 1024, 64 * 1024)
    for i in range(struct.unpack_from("<I", table, 8)[0]):
        guid, offset, length, _ = struct.unpack_from("<16sQII", table, 16 + 32 * i)
        regions[str(uuid.UUID(bytes_le=guid))] = (offset, length)
    meta_offset, _ = regions["8b7ca206-4790-4b9a-b8fe-575f050f886e"]
    meta = read(meta_offset, 64 * 1024)
    items = {}
    for i in range(struct.unpack_from("<H", meta, 10)[0]):
        guid, offset, length = struct.unpack_from("<16sII", meta, 32 + 32 * i)
        items[str(uuid.UUID(bytes_le=guid))] = read(meta_offset + offset, length)
    block_size = struct.unpack_from("<I", items["caa16737-fa36-4d43-b3b6-33f0aa44e76b"])[0]
    disk_size = struct.unpack_from("<Q", items["2fa54224-cd1b-4876-b211-5dbed83bf4b8"])[0]
    sector_size = struct.unpack_from("<I", items["8141bf1d-a96f-4709-ba47-f233a8faab5f"])[0]
    chunk_ratio = (1 << 23) * sector_size // block_size
    blocks = -(-disk_size // block_size)
    bat_offset, _ = regions["2dc27766-f623-4200-9d64-115e9bfd4a08"]
    last = blocks - 1 + (blocks - 1) // chunk_ratio
    bat = read(bat_offset, 8 * (last + 1))
    allocated = 0
    for block in range(blocks):
        state = struct.unpack_from("<Q", bat, 8 * (block + block // chunk_ratio))[0] & 7
        allocated += state in (6, 7)  # fully or partially present
check("logical_sector_size", ours.get("logical_sector_size"), sector_size, "metadata")
check("allocated_blocks", ours.get("allocated_blocks"), allocated, "BAT")
PY
}

for img in "${images[@]}"; do
    name=$(basename "$img")
    before=$(fingerprint "$img")

    # export versus qemu-img convert
    out=$TMP/$name.img
    ref=$TMP/$name.ref.raw
    qemu-img convert -f vhdx -O raw "$img" "$ref"
    export_equals "$name" "$img" "$out" "$ref"

    # an existing output file is refused and left as it was
    if [[ -f $out ]]; then
        kept=$(fingerprint "$out")
        if "$HALVARD" export "$img" "$out" >"$TMP/export.log" 2>&1; then
            fail "$name: export over an existing file succeeded"
        elif [[ $(fingerprint "$out") != "$kept" ]]; then
            fail "$name: refused export changed the existing file"
        else
            pass "$name: export refuses an existing output file"
        fi
    fi
    rm -f "$out" "$ref"

    # info versus qemu-img info and the block table
    qemu-img info -f vhdx --output=json "$img" >"$TMP/qemu.json"
    if "$HALVARD" info "$img" --json >"$TMP/info.json" 2>"$TMP/info.err"; then
        if compare_info "$TMP/info.json" "$TMP/qemu.json" "$img" >"$TMP/compare.txt" \
            && [[ -s $TMP/compare.txt ]]; then
            while IFS=$'\t' read -r verdict what; do
                if [[ $verdict == ok ]]; then pass "$name: info $what"; else fail "$name: info $what"; fi
            done <"$TMP/compare.txt"
        else
            fail "$name: could not compare info with qemu-img"
        fi
    else
        fail "$name: info --json exited with $? ($(head -1 "$TMP/info.err"))"
    fi
    if "$HALVARD" info "$img" >"$TMP/info.txt" 2>&1 && [[ -s $TMP/info.txt ]]; then
        pass "$name: info prints a summary"
    else
        fail "$name: info without --json failed or printed nothing"
    fi

    if [[ $(fingerprint "$img") == "$before" ]]; then
        pass "$name: image content and mtime unchanged"
    else
        fail "$name: image was modified"
    fi
done

check_end
