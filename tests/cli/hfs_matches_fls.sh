#!/usr/bin/env bash
# Checks the HFS+ engine against The Sleuth Kit on the HFS+ disks of tests/fixtures/make_fixtures.sh (the volume
# made on macOS in an MBR disk, the same in a GPT disk as VHDX, and xorriso's HFS+ tree in its hybrid ISO):
#   - the regular files of `halvard ls --recursive --json` are those of `fls -r -p`, with their sizes and
#     modification times (the catalog's own files "$..." and links left out);
#   - `halvard save` writes each with icat's content and the modification time;
#   - the scan of the deep mode finds the same files under the same folders.
#
#   hfs_matches_fls.sh BUILD_DIR FIXTURE_DIR
set -euo pipefail

SCRIPT_ARGS=("$@")
source "$(dirname "$(readlink -f "$0")")/check_lib.sh"
check_setup "BUILD_DIR FIXTURE_DIR" fls icat python3
export TZ=UTC

# compare.py HALVARD_JSON FLS_BODY IMAGE OFFSET [SAVED_DIR]: fls's body file (-m) has
# md5|name|inode|mode|uid|gid|size|atime|mtime|ctime|crtime
cat >"$TMP/compare.py" <<'PY'
import calendar, json, os, subprocess, sys, time
listing, body, image, offset = sys.argv[1:5]
saved = sys.argv[5] if len(sys.argv) > 5 else None
fls = {}
for line in open(body):
    f = line.rstrip("\n").split("|")
    name, inode, mode = f[1], f[2], f[3]
    if mode.startswith("r/r") and "/$" not in name and "(deleted)" not in name:
        fls[name] = (int(f[6]), int(f[8]), inode)
def flsname(path):
    # fls shows control characters (the private folders' NULs and CR) as "^"
    return "".join("^" if ord(c) < 0x20 else c for c in path)
ours = {}
for e in json.load(open(listing)):
    if e["is_dir"] or e["deleted"] or e["path"].startswith("/ORPHAN_ENTRY"):
        continue
    ours[flsname(e["path"])] = (e["size"], calendar.timegm(time.strptime(e["modified"], "%Y-%m-%dT%H:%M:%S")))
links = {p for p in ours if p not in fls and p.endswith("link")}
problems = ["only fls: %s" % p for p in sorted(set(fls) - set(ours))]
problems += ["only halvard: %s" % p for p in sorted(set(ours) - set(fls) - links)]
for p in sorted(set(ours) & set(fls)):
    if ours[p] != fls[p][:2]:
        problems.append("%s: halvard (size, mtime) %s, fls %s" % (p, ours[p], fls[p][:2]))
    if saved:
        host = os.path.join(saved, p.lstrip("/").replace("^", "_"))
        want = subprocess.run(["icat", "-o", offset, image, fls[p][2].split("-")[0]], capture_output=True).stdout
        if not os.path.isfile(host) or open(host, "rb").read() != want:
            problems.append("saved content differs: " + p)
        elif int(os.stat(host).st_mtime) != fls[p][1]:
            problems.append("saved mtime differs: " + p)
for p in problems[:20]:
    print("   ", p)
sys.exit(1 if problems else 0)
PY

# name, image for halvard, halvard's volume options, image for fls, fls offset
CASES=(
    "hfs_mbr|hfs_mbr.raw|--volume 0|hfs_mbr.raw|2048"
    "hfs_mbr deep|hfs_mbr.raw|--volume 0 --mode deep|hfs_mbr.raw|2048"
    "hfs_gpt vhdx|hfs_gpt.vhdx|--volume 0|hfs_gpt.raw|2048"
    "xorriso iso|hfsplus_xorriso.iso|--advanced --volume 0|hfsplus_xorriso.iso|220"
    "xorriso iso deep|hfsplus_xorriso.iso|--advanced --volume 0 --mode deep|hfsplus_xorriso.iso|220"
)
for entry in "${CASES[@]}"; do
    IFS='|' read -r name image options flsimage offset <<<"$entry"
    [[ -f $FIXTURES/$image ]] || { fail "$name: $image missing from $FIXTURES"; continue; }
    json=$TMP/list.json
    # shellcheck disable=SC2086
    if ! "$HALVARD" ls "$FIXTURES/$image" $options --recursive --json >"$json" 2>"$TMP/err"; then
        fail "$name: ls failed ($(head -1 "$TMP/err"))"
        continue
    fi
    fls -r -p -m / -o "$offset" "$FIXTURES/$flsimage" | sed 's#^\([^|]*\)|//*#\1|/#' >"$TMP/body.txt"
    out=$TMP/saved
    rm -rf "$out"
    mkdir -p "$out"
    # shellcheck disable=SC2086
    if ! "$HALVARD" save "$FIXTURES/$image" $options --path / --out "$out" >/dev/null 2>"$TMP/err"; then
        fail "$name: save failed ($(head -1 "$TMP/err"))"
        continue
    fi
    if python3 "$TMP/compare.py" "$json" "$TMP/body.txt" "$FIXTURES/$flsimage" "$offset" "$out"; then
        pass "$name: files, sizes, times and saved contents match fls and icat"
    else
        fail "$name: differs from fls/icat"
    fi
done

check_end
