#!/usr/bin/env bash
# Checks the body file and the checksum lists against The Sleuth Kit and coreutils, on the NTFS volume laid out as
# Windows leaves one and on the kernel-made ext2 and ext4 volumes:
#   - `halvard ls --recursive --bodyfile` names every file and folder `fls -r -m /` names (its "($FILE_NAME)"
#     copies, named streams and "$OrphanFiles" left out), with fls's size and modification time, in a time zone
#     far from UTC (the engines show local times: the body file must give Unix seconds back);
#   - `mactime -b` reads it and names every one of those files;
#   - `halvard save --hashes` writes lists that `sha256sum -c` and `md5sum -c` accept, one line per saved file.
#
#   timeline_matches_fls.sh BUILD_DIR FIXTURE_DIR
set -euo pipefail

SCRIPT_ARGS=("$@")
source "$(dirname "$(readlink -f "$0")")/check_lib.sh"
check_setup "BUILD_DIR FIXTURE_DIR" fls mactime sha256sum md5sum python3
export TZ=America/New_York

# compare.py FLS_BODY OURS_BODY MACTIME_CSV: what fls names that ours lacks, and what mactime's report of ours
# lacks (mactime reports the times that are set: names with none are not in it)
cat >"$TMP/compare.py" <<'PY'
import csv, sys
fls_body, ours_body, mactime_csv = sys.argv[1:4]
def rows(path):
    for line in open(path, encoding="utf-8", errors="surrogateescape"):
        f = line.rstrip("\n").split("|")
        if len(f) == 11:
            yield f
def without_target(name):
    # fls shows " -> target" for symbolic links of ext, not for the reparse points of NTFS; ours for both
    deleted = name.endswith(" (deleted)")
    return name.split(" -> ")[0] + (" (deleted)" if deleted and " -> " in name else "")
fls = {}
for f in rows(fls_body):
    name = f[1]
    leaf = name.rsplit("/", 1)[-1]
    if " ($FILE_NAME)" in name or name.startswith("/$OrphanFiles") or ":" in leaf:
        continue
    # names fls reads from the fake records of htree index blocks have no type; fls also names reused inodes
    if f[3].startswith("-/") or name.endswith("(deleted-realloc)"):
        continue
    # nor is a live name whose entry type disagrees with its inode's: fls reading an index block's hash values as
    # a name (they vary with each volume's hash seed)
    if len(f[3]) > 2 and f[3][1] == "/" and f[3][0] != f[3][2] and "(deleted" not in name:
        continue
    fls[without_target(name)] = (int(f[6]), int(f[8]), f[3][0])
ours, timed = {}, set()
for f in rows(ours_body):
    ours[without_target(f[1])] = (int(f[6]), int(f[8]), f[3][0])
    if any(int(t) for t in f[7:11]):
        timed.add(without_target(f[1]))
problems = ["only fls: %s" % n for n in sorted(set(fls) - set(ours))]
for n in sorted(set(fls) & set(ours)):
    size, mtime, kind = fls[n]
    o_size, o_mtime, o_kind = ours[n]
    if kind == "r" and o_kind == "r" and size != o_size:
        problems.append("%s: size %d, fls %d" % (n, o_size, size))
    # a FILETIME of 0 (before 1970 here) is one fls wraps into the far future
    if mtime != o_mtime and o_mtime >= 0 and not n.endswith("(deleted)"):
        problems.append("%s: mtime %d, fls %d" % (n, o_mtime, mtime))
named = set()
with open(mactime_csv, encoding="utf-8", errors="surrogateescape") as f:
    for row in csv.reader(f):
        if len(row) >= 8:
            named.add(without_target(row[7]))
problems += ["mactime does not name %s" % n for n in sorted(set(fls) & timed) if n not in named]
print("\n".join(problems[:20]))
print("%d names of fls, %d of ours, %d problems" % (len(fls), len(ours), len(problems)), file=sys.stderr)
sys.exit(1 if problems else 0)
PY

check_volume() {
    local label=$1 image=$2 volume=$3 offset=$4
    fls -r -m / -o "$offset" "$image" >"$TMP/fls.body"
    if ! "$HALVARD" ls "$image" --volume "$volume" --recursive --bodyfile >"$TMP/ours.body"; then
        fail "$label: ls --bodyfile failed"
        return
    fi
    if ! mactime -b "$TMP/ours.body" -d >"$TMP/mactime.csv" 2>"$TMP/mactime.err"; then
        fail "$label: mactime cannot read the body file: $(head -1 "$TMP/mactime.err")"
        return
    fi
    if python3 "$TMP/compare.py" "$TMP/fls.body" "$TMP/ours.body" "$TMP/mactime.csv" >"$TMP/problems"; then
        pass "$label: the body file names what fls -m names, with its sizes and times; mactime reads it"
    else
        fail "$label: body file: $(head -5 "$TMP/problems" | tr '\n' ';')"
    fi

    local out=$TMP/save-$label
    rm -rf "$out" "$TMP/sums" "$TMP/sums.md5"
    "$HALVARD" save "$image" --volume "$volume" --path / --out "$out" --hashes "$TMP/sums" >"$TMP/save.txt" 2>&1 || true
    local regular
    regular=$(find "$out" -type f | wc -l)
    if [[ $(wc -l <"$TMP/sums") -ne $regular || $(wc -l <"$TMP/sums.md5") -ne $regular ]]; then
        fail "$label: $(wc -l <"$TMP/sums") SHA-256 and $(wc -l <"$TMP/sums.md5") MD5 lines for $regular saved files"
    elif (cd "$out" && sha256sum -c --quiet --strict "$TMP/sums" && md5sum -c --quiet --strict "$TMP/sums.md5") \
        >"$TMP/sumcheck" 2>&1; then
        pass "$label: save --hashes lists $regular files that sha256sum -c and md5sum -c accept"
    else
        fail "$label: the checksum lists do not check: $(head -3 "$TMP/sumcheck" | tr '\n' ';')"
    fi
}

check_volume ntfs "$FIXTURES/ntfs_windows.raw" 0 2048
check_volume ext2 "$FIXTURES/ext_kernel.raw" 0 2048
check_volume ext4 "$FIXTURES/ext_kernel.raw" 2 51200

check_end
