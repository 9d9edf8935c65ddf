#!/usr/bin/env bash
# Checks ext4 volumes whose data sits where other volumes keep none (make_ext4_feature_fixtures.sh) against what
# was written: on the inline-data volume (small files and folders kept inside their inodes) and on the volume with
# spread group descriptors (meta_bg), every file and link is listed with its size, files saved with their
# content, links saved as links with their target.
#
#   ext4_features_match_source.sh BUILD_DIR FIXTURE_DIR
set -euo pipefail

SCRIPT_ARGS=("$@")
source "$(dirname "$(readlink -f "$0")")/check_lib.sh"
check_setup "BUILD_DIR FIXTURE_DIR" python3

image=$FIXTURES/ext4_features.raw
for v in "1 0 inline data" "2 1 spread group descriptors"; do
    read -r part volume what <<<"$v"
    name="ext4_features.raw volume $volume ($what)"
    if ! "$HALVARD" ls "$image" --volume "$volume" --recursive --json >"$TMP/list.json" 2>"$TMP/err"; then
        fail "$name: ls failed ($(head -1 "$TMP/err"))"
        continue
    fi
    rm -rf "$TMP/out"
    mkdir -p "$TMP/out"
    "$HALVARD" save "$image" --volume "$volume" --path / --out "$TMP/out" >/dev/null 2>&1 || true
    if python3 - "$part" "$FIXTURES/ext4_features_files.txt" "$TMP/list.json" "$TMP/out" <<'PY'; then
import hashlib, json, os, sys
part, manifest, listing, out = sys.argv[1:5]
ours = {e["path"]: e for e in json.load(open(listing))}
problems = []
for line in open(manifest):
    p, path, size, digest = line.rstrip("\n").split("\t")
    if p != part:
        continue
    e = ours.get(path)
    saved = os.path.join(out, path.lstrip("/"))
    if e is None or e["deleted"]:
        problems.append("not listed: " + path)
        continue
    if digest.startswith("link:"):
        if e.get("target") != digest[5:] or not os.path.islink(saved) or os.readlink(saved) != digest[5:]:
            problems.append("link target: " + path)
    elif e["size"] != int(size) or not os.path.isfile(saved) or \
            hashlib.sha256(open(saved, "rb").read()).hexdigest() != digest:
        problems.append("size or content: " + path)
for p in problems[:20]:
    print("   ", p)
sys.exit(1 if problems else 0)
PY
        pass "$name: every file and link listed and saved with its content"
    else
        fail "$name: files differ from what was written"
    fi
done
check_end
