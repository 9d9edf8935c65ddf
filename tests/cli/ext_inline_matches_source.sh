#!/usr/bin/env bash
# Checks ext4 inline data (make_ext_inline_fixture.sh: small files and folders kept inside their inodes) against
# what was written: every file and link is listed with its size, files saved with their content, links saved as
# links with their target, and the names of a folder kept in its inode are its children.
#
#   ext_inline_matches_source.sh BUILD_DIR FIXTURE_DIR
set -euo pipefail

SCRIPT_ARGS=("$@")
source "$(dirname "$(readlink -f "$0")")/check_lib.sh"
check_setup "BUILD_DIR FIXTURE_DIR" python3

image=$FIXTURES/ext_inline.raw
if ! "$HALVARD" ls "$image" --volume 0 --recursive --json >"$TMP/list.json" 2>"$TMP/err"; then
    fail "ext_inline.raw: ls failed ($(head -1 "$TMP/err"))"
    check_end
    exit
fi
mkdir -p "$TMP/out"
"$HALVARD" save "$image" --volume 0 --path / --out "$TMP/out" >/dev/null 2>&1 || true
if python3 - "$FIXTURES/ext_inline_files.txt" "$TMP/list.json" "$TMP/out" <<'PY'; then
import hashlib, json, os, sys
manifest, listing, out = sys.argv[1:4]
ours = {e["path"]: e for e in json.load(open(listing))}
problems = []
for line in open(manifest):
    path, size, digest = line.rstrip("\n").split("\t")
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
    pass "ext_inline.raw: every file and link listed and saved with its content, folders kept in their inode included"
else
    fail "ext_inline.raw: inline files or folders differ from what was written"
fi
check_end
