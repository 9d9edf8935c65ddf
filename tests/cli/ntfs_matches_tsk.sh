#!/usr/bin/env bash
# Cross-checks the NTFS engine, through the command line, against The Sleuth Kit on every NTFS
# volume of the fixtures (made by tests/fixtures/make_fixtures.sh):
#   - the live regular files of `halvard ls --recursive --json` (path and size) are exactly the
#     allocated regular files of `fls -r -p` (metadata files and named streams aside);
#   - every file `halvard save` writes from the volume root equals what `icat` reads (compressed,
#     sparse, fragmented and attribute-list files among them);
#   - on the manifest's disk, deleted files are listed as deleted and come back with their content;
#   - on the Windows-like volume, named streams are hidden unless asked for, and with --streams each is listed
#     and saved as fls and icat see it;
#   - the image is not changed.
# A VHDX twin is read by halvard where TSK reads the raw disk it was made from.
#
#   ntfs_matches_tsk.sh BUILD_DIR FIXTURE_DIR
set -euo pipefail

SCRIPT_ARGS=("$@")
source "$(dirname "$(readlink -f "$0")")/check_lib.sh"
check_setup "BUILD_DIR FIXTURE_DIR" fls icat python3 sha256sum

# image halvard reads, the raw disk TSK reads
PAIRS=(
    "ntfs_disk.raw ntfs_disk.raw"
    "ntfs_1m.vhdx ntfs_disk.raw"
    "ntfs_512.raw ntfs_512.raw"
    "formats_disk.raw formats_disk.raw"
    "mbr_mixed.raw mbr_mixed.raw"
    "gpt_mixed.vhdx gpt_mixed.raw"
)

# tsk.py: what compare.py and streams.py both read from fls and icat
cat >"$TMP/tsk.py" <<'PY'
import subprocess


def metadata(path):
    return path.split("/")[0].startswith("$")


def fls_files(fls_path, streams):
    """path -> (size, record) of the regular files (or, with streams, the named streams) of `fls -l -p`"""
    theirs = {}
    for line in open(fls_path, encoding="utf-8", errors="surrogateescape"):
        fields = line.rstrip("\n").split("\t")
        kind, inode = fields[0].split(" ")[0], fields[0].split(" ")[-1].rstrip(":")
        path = fields[1]
        if kind == "r/r" and (":" in path) == streams and not metadata(path):
            theirs[path] = (int(fields[6]), inode)
    return theirs


def differ_from_icat(theirs, raw, start, saved, prefix):
    """the paths whose saved copy (SAVED/PREFIX/path) is not what icat reads"""
    differ = []
    for path, (size, inode) in sorted(theirs.items()):
        want = subprocess.run(["icat", "-o", start, raw, inode], capture_output=True).stdout
        try:
            got = open(saved + "/" + prefix + path, "rb").read()
        except OSError:
            got = None
        if got != want:
            differ.append(path)
    return differ
PY

# compare.py OURS_JSON FLS_OUT SAVED_DIR RAW START [PREFIX]: prints "ok|bad<TAB>what" lines; PREFIX is the
# folder our paths start with where fls's start at the root (deep mode: ORPHAN_ENTRY/)
cat >"$TMP/compare.py" <<'PY'
import collections, json, sys
from tsk import differ_from_icat, fls_files, metadata

ours_path, fls_path, saved, raw, start = sys.argv[1:6]
prefix = sys.argv[6] if len(sys.argv) > 6 else ""

ours, ids = {}, {}
listed = json.load(open(ours_path))
for e in listed:
    path = e["path"].lstrip("/")
    if prefix and path.startswith(prefix):
        path = path[len(prefix):]
    if not e["is_dir"] and not e["deleted"] and not metadata(path):
        ours[path] = e["size"]
        ids[path] = str(e["id"])
twice = [p for p, n in collections.Counter(e["path"] for e in listed).items() if n > 1]
print("%s\tno path listed twice%s" % ("bad" if twice else "ok", ": " + ", ".join(twice[:5]) if twice else ""))

theirs = fls_files(fls_path, streams=False)
missing = sorted(set(theirs) - set(ours))
extra = sorted(set(ours) - set(theirs))
print("%s\tlive files: %d listed, fls %d%s%s" % (
    "bad" if missing or extra else "ok", len(ours), len(theirs),
    "; missing " + ", ".join(missing[:5]) if missing else "", "; extra " + ", ".join(extra[:5]) if extra else ""))
wrong = [p for p in theirs if p in ours and ours[p] != theirs[p][0]]
print("%s\tsizes equal fls's%s" % ("bad" if wrong else "ok", ": " + ", ".join(wrong[:5]) if wrong else ""))
wrong = [p for p in theirs if p in ids and ids[p] != theirs[p][1].split("-")[0]]
print("%s\tids equal fls's record numbers%s" % ("bad" if wrong else "ok", ": " + ", ".join(wrong[:5]) if wrong else ""))

differ = differ_from_icat(theirs, raw, start, saved, prefix)
print("%s\tsaved content equals icat's for %d files%s" % (
    "bad" if differ else "ok", len(theirs), ": differ " + ", ".join(differ[:5]) if differ else ""))
PY

# deleted.py OURS_JSON MANIFEST: the manifest's deleted files must be listed as deleted
cat >"$TMP/deleted.py" <<'PY'
import json, sys

listed = {e["path"].lstrip("/"): e for e in json.load(open(sys.argv[1]))}
for line in open(sys.argv[2], encoding="utf-8"):
    if line.startswith("#"):
        continue
    kind, state, size, digest, attrs, created, modified, path = line.rstrip("\n").split("\t")
    if state == "deleted":
        e = listed.get(path)
        print("%s\t%s listed as deleted" % ("ok" if e and e["deleted"] and e["size"] == int(size) else "bad", path))
        print("%s\t%s" % (path, digest), file=sys.stderr)
PY

# deleted_come_back NAME IMAGE OPTIONS...: each "path<TAB>sha256" line read, saved on its own, has that hash
deleted_come_back() {
    local name=$1 path digest got
    shift
    while IFS=$'\t' read -r path digest; do
        rm -rf "$TMP/one" && mkdir "$TMP/one"
        "$HALVARD" save "$@" --path "$path" --out "$TMP/one" >/dev/null 2>&1 || true
        got=$(sha256sum <"$TMP/one/$(basename "$path")" 2>/dev/null | cut -d' ' -f1)
        if [[ $got == "$digest" ]]; then
            pass "$name: deleted $path comes back intact"
        else
            fail "$name: deleted $path does not come back intact"
        fi
    done
}

report() {
    local verdict what
    while IFS=$'\t' read -r verdict what; do
        if [[ $verdict == ok ]]; then pass "$1: $what"; else fail "$1: $what"; fi
    done
}

for pair in "${PAIRS[@]}"; do
    read -r image raw <<<"$pair"
    if [[ ! -f $FIXTURES/$image || ! -f $FIXTURES/$raw ]]; then
        fail "$image: missing from $FIXTURES (run tests/fixtures/make_fixtures.sh $FIXTURES)"
        continue
    fi
    before=$(fingerprint "$FIXTURES/$image")
    "$HALVARD" volumes "$FIXTURES/$image" --json >"$TMP/volumes.json" 2>/dev/null
    volumes=$(python3 -c 'import json,sys
for v in json.load(open(sys.argv[1])):
    if v["file_system"].upper() == "NTFS": print(v["volume"], v["start_sector"])' "$TMP/volumes.json")
    [[ -n $volumes ]] || fail "$image: no NTFS volume found"
    while read -r volume start; do
        [[ -n $volume ]] || continue
        name="$image volume $volume"
        rm -rf "$TMP/saved"
        mkdir "$TMP/saved"
        if ! "$HALVARD" ls "$FIXTURES/$image" --volume "$volume" --recursive --json >"$TMP/ls.json" 2>"$TMP/err"; then
            fail "$name: ls failed ($(head -1 "$TMP/err"))"
            continue
        fi
        if ! "$HALVARD" save "$FIXTURES/$image" --volume "$volume" --path / --out "$TMP/saved" >/dev/null 2>"$TMP/err"; then
            fail "$name: save failed ($(tail -1 "$TMP/err"))"
        fi
        fls -r -p -l -u -o "$start" "$FIXTURES/$raw" >"$TMP/fls.txt"
        report "$name" < <(python3 "$TMP/compare.py" "$TMP/ls.json" "$TMP/fls.txt" "$TMP/saved" "$FIXTURES/$raw" "$start")

        if [[ $image == ntfs_disk.raw ]]; then
            report "$name" < <(python3 "$TMP/deleted.py" "$TMP/ls.json" "$FIXTURES/manifest.txt" 2>"$TMP/deleted.txt")
            deleted_come_back "$name" "$FIXTURES/$image" --volume "$volume" <"$TMP/deleted.txt"
        fi
    done <<<"$volumes"
    if [[ $(fingerprint "$FIXTURES/$image") == "$before" ]]; then
        pass "$image: image content and mtime unchanged"
    else
        fail "$image: image was modified"
    fi
done

# A volume laid out as Windows leaves one (tests/fixtures/make_ntfs_windows_fixtures.sh): files spread over
# extension records, many names per file, reparse points, streams. Read in standard and deep mode, and with its
# boot sectors zeroed; TSK reads the intact copy.
cat >"$TMP/deleted_by_record.py" <<'PY'
import json, sys

listed = json.load(open(sys.argv[1]))
for line in open(sys.argv[2], encoding="utf-8"):
    kind, record, digest = line.rstrip("\n").split("\t")
    if kind != "deleted":
        continue
    found = [e for e in listed if str(e["id"]) == record and e["deleted"] and not e["is_dir"]]
    print("%s\tdeleted record %s listed as deleted" % ("ok" if found else "bad", record))
    for e in found[:1]:
        print("%s\t%s" % (e["path"], digest), file=sys.stderr)
PY

cat >"$TMP/reparse.py" <<'PY'
import json, sys

listed = {e["path"].lstrip("/"): e for e in json.load(open(sys.argv[1]))}
prefix = sys.argv[3] if len(sys.argv) > 3 else ""
for line in open(sys.argv[2], encoding="utf-8"):
    kind, path, target = line.rstrip("\n").split("\t")
    if kind != "reparse":
        continue
    e = listed.get(prefix + path)
    ok = e is not None and e.get("target") == target and e["size"] == 0
    print("%s\t%s listed as a link to %s" % ("ok" if ok else "bad", path, target))
PY

# streams.py OURS_JSON FLS_OUT SAVED_DIR RAW START EXPECT [PREFIX]: with --streams, every named stream `fls` lists
# is listed beside its file with its size and the file's record number, and saved as `icat` reads it; the
# expected streams (of live and deleted files) come back with their hashes
cat >"$TMP/streams.py" <<'PY'
import hashlib, json, sys
from tsk import differ_from_icat, fls_files, metadata

ours_path, fls_path, saved, raw, start, expect = sys.argv[1:7]
prefix = sys.argv[7] if len(sys.argv) > 7 else ""

listed = {}
for e in json.load(open(ours_path)):
    path = e["path"].lstrip("/")
    if prefix and path.startswith(prefix):
        path = path[len(prefix):]
    if path not in listed or (listed[path]["deleted"] and not e["deleted"]):
        listed[path] = e
ours = {p for p, e in listed.items() if ":" in p.split("/")[-1] and not e["deleted"] and not metadata(p)}

theirs = fls_files(fls_path, streams=True)
missing, extra = sorted(set(theirs) - ours), sorted(ours - set(theirs))
print("%s\tstreams: %d listed, fls %d%s%s" % (
    "bad" if missing or extra or not theirs else "ok", len(ours), len(theirs),
    "; missing " + ", ".join(missing[:5]) if missing else "", "; extra " + ", ".join(extra[:5]) if extra else ""))
wrong = [p for p in theirs if p in listed and (listed[p]["size"] != theirs[p][0] or
                                              str(listed[p]["id"]) != theirs[p][1].split("-")[0])]
print("%s\tstream sizes and ids equal fls's%s" % ("bad" if wrong else "ok", ": " + ", ".join(wrong[:5]) if wrong else ""))
differ = differ_from_icat(theirs, raw, start, saved, prefix)
print("%s\tsaved streams equal icat's for %d streams%s" % (
    "bad" if differ else "ok", len(theirs), ": differ " + ", ".join(differ[:5]) if differ else ""))

for line in open(expect, encoding="utf-8"):
    kind, path, digest = line.rstrip("\n").split("\t")
    if kind != "stream":
        continue
    e = listed.get(path)
    live = path in theirs
    try:
        got = hashlib.sha256(open(saved + "/" + prefix + path, "rb").read()).hexdigest()
    except OSError:
        got = None
    ok = e is not None and e["deleted"] != live and got == digest
    print("%s\t%s stream %s listed and saved intact" % ("ok" if ok else "bad", "live" if live else "deleted", path))
PY

# records.py OURS_JSON FLS_ALL_OUT: each record is listed once per name fls gives it, never more (a record found
# twice by a scan is one entry; every hard link is one)
cat >"$TMP/records.py" <<'PY'
import collections, json, sys

theirs = collections.Counter()
for line in open(sys.argv[2], encoding="utf-8", errors="surrogateescape"):
    head, path = line.rstrip("\n").split("\t")[:2]
    if ":" not in path.split("/")[-1] and not path.startswith("$OrphanFiles"):
        theirs[head.split(" ")[-1].rstrip(":").split("-")[0]] += 1
ours = collections.Counter(str(e["id"]) for e in json.load(open(sys.argv[1])) if e["name"] not in (".", "ORPHAN_ENTRY"))
wrong = ["%s (%d, fls %d)" % (r, ours[r], n) for r, n in sorted(theirs.items()) if ours[r] != n]
print("%s\teach record listed once per name, %d records%s" % (
    "bad" if wrong else "ok", len(theirs), ": " + ", ".join(wrong[:5]) if wrong else ""))
PY

WIN=$FIXTURES/ntfs_windows.raw
if [[ ! -f $WIN || ! -f $FIXTURES/ntfs_windows_noboot.raw ]]; then
    fail "ntfs_windows.raw: missing from $FIXTURES (run tests/fixtures/make_ntfs_windows_fixtures.sh $FIXTURES)"
else
    fls -r -p -l -u -o 2048 "$WIN" >"$TMP/fls.txt"
    fls -r -p -o 2048 "$WIN" >"$TMP/fls_all.txt"
    for run in "standard ntfs_windows.raw" "deep ntfs_windows.raw ORPHAN_ENTRY/" "standard ntfs_windows_noboot.raw"; do
        read -r mode image prefix <<<"$run"
        name="$image ($mode mode)"
        before=$(fingerprint "$FIXTURES/$image")
        rm -rf "$TMP/saved" && mkdir "$TMP/saved"
        if ! "$HALVARD" ls "$FIXTURES/$image" --volume 0 --mode "$mode" --recursive --json >"$TMP/ls.json" 2>"$TMP/err"; then
            fail "$name: ls failed ($(head -1 "$TMP/err"))"
            continue
        fi
        "$HALVARD" save "$FIXTURES/$image" --volume 0 --mode "$mode" --path / --out "$TMP/saved" >/dev/null 2>"$TMP/err" \
            || fail "$name: save failed ($(tail -1 "$TMP/err"))"
        report "$name" < <(python3 "$TMP/compare.py" "$TMP/ls.json" "$TMP/fls.txt" "$TMP/saved" "$WIN" 2048 $prefix)
        report "$name" < <(python3 "$TMP/reparse.py" "$TMP/ls.json" "$FIXTURES/ntfs_windows.txt" $prefix)
        report "$name" < <(python3 "$TMP/records.py" "$TMP/ls.json" "$TMP/fls_all.txt")
        report "$name" < <(python3 "$TMP/deleted_by_record.py" "$TMP/ls.json" "$FIXTURES/ntfs_windows.txt" 2>"$TMP/deleted.txt")
        rm -rf "$TMP/streams" && mkdir "$TMP/streams"
        if "$HALVARD" ls "$FIXTURES/$image" --volume 0 --mode "$mode" --recursive --streams --json >"$TMP/ls_streams.json" \
                2>"$TMP/err" &&
            "$HALVARD" save "$FIXTURES/$image" --volume 0 --mode "$mode" --path / --streams --out "$TMP/streams" \
                >/dev/null 2>"$TMP/err"; then
            report "$name" < <(python3 "$TMP/streams.py" "$TMP/ls_streams.json" "$TMP/fls.txt" "$TMP/streams" "$WIN" 2048 \
                "$FIXTURES/ntfs_windows.txt" $prefix)
        else
            fail "$name: ls or save with --streams failed ($(tail -1 "$TMP/err"))"
        fi
        deleted_come_back "$name" "$FIXTURES/$image" --volume 0 --mode "$mode" <"$TMP/deleted.txt"
        if [[ $(fingerprint "$FIXTURES/$image") == "$before" ]]; then
            pass "$name: image unchanged"
        else
            fail "$name: image was modified"
        fi
    done

    # One file saved on its own takes its streams along.
    rm -rf "$TMP/one" && mkdir "$TMP/one"
    "$HALVARD" save "$WIN" --volume 0 --path streams/download.exe --streams --out "$TMP/one" >/dev/null 2>&1 || true
    got=$(cd "$TMP/one" && sha256sum 'download.exe:Zone.Identifier' 'download.exe:thumbnail' 2>/dev/null | cut -d' ' -f1 | tr '\n' ' ')
    want=$(grep -P '^stream\tstreams/download.exe:(Zone.Identifier|thumbnail)\t' "$FIXTURES/ntfs_windows.txt" | cut -f3 | tr '\n' ' ')
    if [[ -f $TMP/one/download.exe && $got == "$want" ]]; then
        pass "streams/download.exe saved with --streams: its two streams beside it"
    else
        fail "streams/download.exe saved with --streams: streams missing or wrong"
    fi
fi

check_end
