#!/usr/bin/env bash
# Checks the ext engine on ext_special.raw (make_ext_special_fixtures.sh) against The Sleuth Kit and debugfs:
#   - volume 0 (128-byte inodes): device nodes, FIFOs and sockets are listed with their kind (`--json` kind, the
#     body file's mode as `fls -m` writes it), links with an attribute block keep their target and are saved as
#     links, `save` skips the nodes with a note and counts the removed file nothing describes as not recoverable,
#     with exit status 0;
#   - the mount of volume 0 shows the nodes as what they are, with no device number (when FUSE is there);
#   - volume 1 (its group descriptors zeroed, the copy in group 1 intact): every name fls listed before the damage
#     is listed, and a note says the copy was read;
#   - volume 2 (the descriptors and their copy zeroed): refused as damaged, exit status 2, never an empty listing;
#   - volume 3 (written by the kernel driver, a file removed with rm and nothing left of its map): `save` of its
#     folder exits 0, the removed file counted as not recoverable, the other saved; a save that cannot write
#     (an output folder that is a file's) still exits 2.
#
#   ext_special_matches_fls.sh BUILD_DIR FIXTURE_DIR
set -euo pipefail

SCRIPT_ARGS=("$@")
source "$(dirname "$(readlink -f "$0")")/check_lib.sh"
check_setup "BUILD_DIR FIXTURE_DIR" fls debugfs python3
export TZ=UTC
disk=$FIXTURES/ext_special.raw

# Volume 0: kinds and links, against fls.
fls -r -m / -o 2048 "$disk" >"$TMP/fls0.body"
"$HALVARD" ls "$disk" --volume 0 --recursive --json >"$TMP/ls0.json"
"$HALVARD" ls "$disk" --volume 0 --recursive --bodyfile >"$TMP/ls0.body"
if run_checks "$TMP/fls0.body" "$TMP/ls0.json" "$TMP/ls0.body" <<'PY'; then
import json, sys
fls_body, listing, ours_body = sys.argv[1:4]
def modes(path):
    rows = {}
    for line in open(path):
        cols = line.rstrip("\n").split("|")
        name = cols[1].split(" -> ")[0]
        if "$OrphanFiles" in name or name.endswith("(deleted)"):
            continue
        rows[name] = cols[3][:3]
    return rows
kinds = {"c/c": "character_device", "b/b": "block_device", "p/p": "fifo", "s/h": "socket"}
theirs, ours = modes(fls_body), modes(ours_body)
entries = {e["path"]: e for e in json.load(open(listing))}
problems = []
for path, mode in theirs.items():
    if ours.get(path) != mode:
        problems.append("%s: body file mode %s, fls %s" % (path, ours.get(path), mode))
    if mode in kinds and entries.get(path, {}).get("kind") != kinds[mode]:
        problems.append("%s: kind %s" % (path, entries.get(path, {}).get("kind")))
for path in ("/fast_link", "/slow_link"):
    if not entries.get(path, {}).get("target"):
        problems.append(path + ": no link target")
if entries.get("/fast_link", {}).get("target") != "sub/a.txt":
    problems.append("/fast_link: target %r" % entries.get("/fast_link", {}).get("target"))
if len([m for m in theirs.values() if m in kinds]) != 4:
    problems.append("fls does not list the four nodes: " + repr(theirs))
for p in problems:
    print("   ", p)
sys.exit(1 if problems else 0)
PY
    pass "volume 0: nodes listed with fls's kinds, links with an attribute block keep their target"
else
    fail "volume 0: kinds or links differ from fls"
fi

out=$TMP/saved0
status=0
"$HALVARD" save "$disk" --volume 0 --path / --out "$out" >"$TMP/save0.txt" 2>"$TMP/save0.err" || status=$?
if [[ $status == 0 ]] && grep -q ", 4 skipped, 1 not recoverable, 0 failed" "$TMP/save0.txt" &&
    grep -q "skipped: .*/fifo: a FIFO, which has no content to save" "$TMP/save0.err" &&
    grep -q "not saved: .*/removed.txt: not recoverable: its blocks are not known" "$TMP/save0.err"; then
    pass "volume 0: save exits 0, the nodes skipped with a note, the lost file counted as not recoverable"
else
    fail "volume 0: save exit status $status: $(cat "$TMP/save0.txt") $(head -3 "$TMP/save0.err")"
fi
want_slow=$(debugfs -R "stat /slow_link" <(dd if="$disk" bs=512 skip=2048 count=16384 status=none) 2>/dev/null |
    sed -n 's/^Fast link dest: "\(.*\)"$/\1/p')
if [[ $(readlink "$out/fast_link") == sub/a.txt && -L $out/slow_link && -z $want_slow &&
    $(readlink "$out/slow_link") == sub/long_folder_name/*target.bin && $(cat "$out/sub/a.txt") == "content of a" &&
    ! -e $out/fifo && ! -e $out/chardev ]]; then
    pass "volume 0: links with an attribute block saved as links, a file with one saved whole, no node written"
else
    fail "volume 0: saved links or files differ: $(ls -l "$out" | tr '\n' ' ')"
fi

# The mount: each node as what it is.
if command -v fusermount3 >/dev/null && [[ -c /dev/fuse ]]; then
    mkdir -p "$TMP/mnt"
    if "$HALVARD" mount "$disk" --volume 0 "$TMP/mnt" >/dev/null 2>&1; then
        kinds=$(stat -c '%n %F %t:%T' "$TMP/mnt"/{fifo,chardev,blockdev,sock} 2>&1 | sed "s|$TMP/mnt/||" | tr '\n' ';' || true)
        fusermount3 -u "$TMP/mnt" || true
        if [[ $kinds == "fifo fifo 0:0;chardev character special file 0:0;blockdev block special file 0:0;sock socket 0:0;" ]]; then
            pass "volume 0: the mount shows the nodes as what they are, with no device number"
        else
            fail "volume 0: the mount shows the nodes as: $kinds"
        fi
    else
        fail "volume 0: mount failed"
    fi
fi

# Volume 1: the descriptor table's copy.
if "$HALVARD" ls "$disk" --volume 1 --recursive --json >"$TMP/ls1.json" 2>"$TMP/ls1.err" &&
    grep -q "copy in group 1 was read" "$TMP/ls1.err" &&
    run_checks "$FIXTURES/ext_special_fls.txt" "$TMP/ls1.json" <<'PY'; then
import json, sys
listing = {e["path"] for e in json.load(open(sys.argv[2]))}
missing = []
for line in open(sys.argv[1]):
    name = line.rstrip("\n").split("\t", 1)[1]
    if not name.startswith("$OrphanFiles") and "/" + name not in listing:
        missing.append(name)
print("    missing:", missing) if missing else None
sys.exit(1 if missing else 0)
PY
    pass "volume 1: zeroed group descriptors read from their copy, every name fls listed before is listed"
else
    fail "volume 1: not listed through the descriptors' copy ($(head -2 "$TMP/ls1.err"))"
fi

# Volume 2: no copy left.
status=0
"$HALVARD" ls "$disk" --volume 2 --recursive >"$TMP/ls2.txt" 2>"$TMP/ls2.err" || status=$?
if [[ $status == 2 && ! -s $TMP/ls2.txt ]] && grep -q "damaged" "$TMP/ls2.err"; then
    pass "volume 2: group descriptors and their copy zeroed: refused as damaged, exit status 2"
else
    fail "volume 2: exit status $status, $(wc -l <"$TMP/ls2.txt") lines, $(head -1 "$TMP/ls2.err")"
fi

# Volume 3: a kernel-removed file nothing describes any more.
out=$TMP/saved3
status=0
"$HALVARD" save "$disk" --volume 3 --path /docs --out "$out" >"$TMP/save3.txt" 2>"$TMP/save3.err" || status=$?
if [[ $status == 0 ]] && grep -q "^2 files written .*, 1 not recoverable, 0 failed$" "$TMP/save3.txt" &&
    grep -q "not saved: .*/gone.bin: not recoverable" "$TMP/save3.err" && [[ $(cat "$out/kept.txt") == "this file stays" ]] &&
    [[ ! -e $out/gone.bin ]]; then
    pass "volume 3: save of a folder with a lost removed file exits 0 and counts it as not recoverable"
else
    fail "volume 3: save exit status $status: $(cat "$TMP/save3.txt") $(head -2 "$TMP/save3.err")"
fi
touch "$TMP/file_in_the_way"
status=0
"$HALVARD" save "$disk" --volume 3 --path /docs/kept.txt --out "$TMP/file_in_the_way/x" >/dev/null 2>&1 || status=$?
if [[ $status == 2 ]]; then
    pass "volume 3: a save that cannot write still exits 2"
else
    fail "volume 3: a save into an impossible folder exited $status"
fi

check_end
