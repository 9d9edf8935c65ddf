#!/usr/bin/env bash
# Checks the ext engine as a recovery tool, against The Sleuth Kit and what the fixture scripts removed:
#   - ext_kernel.raw (make_ext_kernel_fixtures.sh: ext2, ext3, ext4 written by the kernel driver): every name
#     `fls -r -p -l` lists is in `halvard ls --recursive --json` with its size and inode (hard links: every name),
#     links carry their target, no "." or ".." is an entry; `halvard save` of "/" writes every file with icat's
#     content (debugfs dump where icat cannot read the extent tree); a removed file is saved only with the
#     content it had, and on ext3 and ext4 the removed files are found through the journal and saved whole; the
#     save exits 0, the removed files listed as not recoverable counted as such in its summary;
#   - ext_disk.raw (make_ext_fixtures.sh, files removed by debugfs): every removed name fls lists is listed
#     removed, and the removed files whose blocks are free are saved byte-identical.
#
#   ext_recovery_matches_tsk.sh BUILD_DIR FIXTURE_DIR
set -euo pipefail

SCRIPT_ARGS=("$@")
source "$(dirname "$(readlink -f "$0")")/check_lib.sh"
check_setup "BUILD_DIR FIXTURE_DIR" fls icat debugfs python3 sha256sum
export TZ=UTC

# compare.py KIND ARGS...: prints differences, exits 1 on any
cat >"$TMP/compare.py" <<'PY'
import hashlib, json, os, sys
kind = sys.argv[1]
problems = []
def fls_rows(path):
    # fls -l: "type inode:<TAB>name<TAB>mtime<TAB>atime<TAB>ctime<TAB>crtime<TAB>size<TAB>uid<TAB>gid"
    rows = []
    for line in open(path, encoding="utf-8", errors="replace"):
        cols = line.rstrip("\n").split("\t")
        meta, name = cols[0], cols[1]
        if name.startswith("$OrphanFiles"):
            continue
        kind, _, rest = meta.partition(" ")
        removed = "*" in rest
        inode = int(rest.replace("*", "").replace("(realloc)", "").strip().rstrip(":"))
        rows.append({"type": kind, "inode": inode, "path": "/" + name, "size": int(cols[6]), "removed": removed})
    return rows
if kind == "live":
    fls, listing, out, rdump = sys.argv[2:6]
    ours = {e["path"]: e for e in json.load(open(listing))}
    for bad in [p for p in ours if p.rsplit("/", 1)[-1] in (".", "..")]:
        problems.append("dot entry listed: " + bad)
    for r in fls_rows(fls):
        if r["removed"] or r["type"] not in ("r/r", "d/d", "l/l"):
            continue
        e = ours.get(r["path"])
        if e is None:
            problems.append("missing: " + r["path"])
            continue
        if e["deleted"] or e["id"] != str(r["inode"]):
            problems.append("not live or other inode: %s %s" % (r["path"], e["id"]))
        if r["type"] == "r/r" and e["size"] != r["size"]:
            problems.append("size: %s %d != %d" % (r["path"], e["size"], r["size"]))
        if r["type"] == "l/l" and not e.get("target"):
            problems.append("no link target: " + r["path"])
        if r["type"] == "r/r":
            saved = os.path.join(out, r["path"].lstrip("/"))
            if r["path"].startswith("/htree/"):
                want = open(os.path.join(rdump, r["path"].lstrip("/")), "rb").read()
            else:
                want = open(os.path.join(out + ".oracle", str(r["inode"])), "rb").read()
            if not os.path.isfile(saved) or open(saved, "rb").read() != want:
                problems.append("content differs: " + r["path"])
        if r["type"] == "l/l":
            saved = os.path.join(out, r["path"].lstrip("/"))
            if not os.path.islink(saved) or os.readlink(saved) != e.get("target"):
                problems.append("link not saved as a link: " + r["path"])
elif kind == "removed":
    # removed PART MANIFEST LISTING SAVED: a removed file saved must have the content it had
    # With a journal (ext3, ext4) every removed file outside the 3,000-name folder (whose early records the log
    # no longer holds) must be listed recoverable and saved with its content.
    part, manifest, listing, out, journal = sys.argv[2:7]
    ours = {e["path"]: e for e in json.load(open(listing))}
    for line in open(manifest):
        p, path, size, digest = line.rstrip("\n").split("\t")
        if p != part:
            continue
        saved = os.path.join(out, path.lstrip("/"))
        if os.path.isfile(saved) and hashlib.sha256(open(saved, "rb").read()).hexdigest() != digest:
            problems.append("saved with other content: " + path)
        elif journal == "journal" and not path.startswith("/htree/"):
            e = ours.get(path)
            if not os.path.isfile(saved) or e is None or not e["deleted"] or e.get("recoverable") != "yes":
                problems.append("removed file not found through the journal: " + path)
    for path, e in ours.items():
        if e["deleted"] and e.get("recoverable") not in ("yes", "partly", "no"):
            problems.append("no recoverable value: " + path)
elif kind == "removed_names":
    # removed_names FLS LISTING SAVED WANT...: fls's removed names listed removed; WANT files (path=text) saved
    fls, listing, out = sys.argv[2:5]
    ours = {e["path"]: e for e in json.load(open(listing))}
    for r in fls_rows(fls):
        if not r["removed"]:
            continue
        e = ours.get(r["path"])
        if e is None or not e["deleted"]:
            problems.append("removed name not listed removed: " + r["path"])
    for want in sys.argv[5:]:
        path, _, text = want.partition("=")
        saved = os.path.join(out, path.lstrip("/"))
        if not os.path.isfile(saved) or open(saved, "rb").read() != text.encode() + b"\n":
            problems.append("removed file not saved with its content: " + path)
for p in problems[:20]:
    print("   ", p)
sys.exit(1 if problems else 0)
PY

kernel=$FIXTURES/ext_kernel.raw
for v in "1 0 2048 16384" "2 1 18432 32768" "3 2 51200 32768"; do
    read -r part volume start sectors <<<"$v"
    name="ext_kernel.raw volume $volume"
    json=$TMP/kernel.$volume.json
    out=$TMP/saved.$volume
    if ! "$HALVARD" ls "$kernel" --volume "$volume" --recursive --json >"$json" 2>"$TMP/err"; then
        fail "$name: ls failed ($(head -1 "$TMP/err"))"
        continue
    fi
    mkdir -p "$out" "$out.oracle"
    save_status=0
    "$HALVARD" save "$kernel" --volume "$volume" --path / --out "$out" >"$TMP/save.txt" 2>"$TMP/save.err" || save_status=$?
    # Removed files the volume no longer describes are counted, not failed: the status stays 0.
    lost=$(python3 -c 'import json, sys; print(sum(1 for e in json.load(open(sys.argv[1]))
        if e["deleted"] and not e["is_dir"] and "kind" not in e and e.get("recoverable") == "no"))' "$json")
    if [[ $save_status == 0 ]] && grep -q ", 0 failed" "$TMP/save.txt" &&
        { [[ $lost == 0 ]] || grep -q ", $lost not recoverable, " "$TMP/save.txt"; }; then
        pass "$name: save exits 0 with $lost lost removed files counted as not recoverable"
    else
        fail "$name: save exit status $save_status with $lost lost removed files: $(cat "$TMP/save.txt")"
    fi
    fls -r -p -l -o "$start" "$kernel" >"$TMP/fls.txt"
    # The oracles' content of every live regular file, by inode: icat, except in the 3,000-name folder (one icat
    # each would take minutes), where one debugfs rdump gives them; debugfs dump where icat cannot read the tree.
    dd if="$kernel" of="$TMP/part" bs=512 skip="$start" count="$sectors" status=none
    mkdir -p "$TMP/rdump"
    debugfs -R "rdump /htree $TMP/rdump" "$TMP/part" >/dev/null 2>&1
    while IFS=$'\t' read -r meta path _ _ _ _ size _; do
        [[ $meta == r/r* && $meta != *"*"* && $path != '$OrphanFiles'* ]] || continue
        inode=${meta#r/r }
        inode=${inode%:}
        [[ -f $out.oracle/$inode ]] && continue
        [[ $path == htree/* ]] && continue
        icat -o "$start" "$kernel" "$inode" >"$out.oracle/$inode" 2>/dev/null || true
        if [[ $(stat -c %s "$out.oracle/$inode") != "$size" ]]; then
            debugfs -R "dump -p <$inode> $out.oracle/$inode" "$TMP/part" >/dev/null 2>&1
        fi
    done <"$TMP/fls.txt"
    if python3 "$TMP/compare.py" live "$TMP/fls.txt" "$json" "$out" "$TMP/rdump"; then
        pass "$name: every live name of fls with its size, inode and icat's content"
    else
        fail "$name: live names differ from fls/icat"
    fi
    journal=none how=""
    [[ $part != 1 ]] && journal=journal how=" (all of them, through the journal)"
    if python3 "$TMP/compare.py" removed "$part" "$FIXTURES/ext_kernel_deleted.txt" "$json" "$out" "$journal"; then
        pass "$name: removed files are saved only with the content they had$how"
    else
        fail "$name: a removed file was saved with other content"
    fi
    rm -rf "$out" "$out.oracle" "$TMP/part" "$TMP/rdump"
done

disk=$FIXTURES/ext_disk.raw
for v in "0 2048" "1 26624" "2 59392"; do
    read -r volume start <<<"$v"
    name="ext_disk.raw volume $volume"
    json=$TMP/disk.$volume.json
    out=$TMP/saved.disk.$volume
    "$HALVARD" ls "$disk" --volume "$volume" --recursive --json >"$json" 2>"$TMP/err" || { fail "$name: ls failed"; continue; }
    mkdir -p "$out"
    "$HALVARD" save "$disk" --volume "$volume" --path / --out "$out" >/dev/null 2>&1 || true
    fls -r -p -l -o "$start" "$disk" >"$TMP/fls.txt"
    if python3 "$TMP/compare.py" removed_names "$TMP/fls.txt" "$json" "$out" \
        "/docs/removed.txt=this file is removed by debugfs" \
        "/many/file_with_a_longer_name_0003.txt=file 3"; then
        pass "$name: fls's removed names are listed removed and their files saved"
    else
        fail "$name: removed names or content differ"
    fi
    rm -rf "$out"
done

check_end
