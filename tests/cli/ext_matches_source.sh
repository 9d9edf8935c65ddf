#!/usr/bin/env bash
# Checks the ext2/3/4 engine on the volumes that tests/fixtures/make_ext_fixtures.sh builds:
#   - `halvard ls --recursive --json` lists exactly the folders, files and links of each volume's
#     source folder (after the removals), with their sizes and modification times, and its device
#     nodes and FIFO with their kind;
#   - its live regular files are those of The Sleuth Kit's `fls -r -p`;
#   - `halvard save` writes every file with the source's content (sparse ones with their holes,
#     links as links to their target) and modification time.
# The raw disk and the VHDX are both read.
#
#   ext_matches_source.sh BUILD_DIR FIXTURE_DIR
set -euo pipefail

SCRIPT_ARGS=("$@")
source "$(dirname "$(readlink -f "$0")")/check_lib.sh"
check_setup "BUILD_DIR FIXTURE_DIR" fls python3 sha256sum
export TZ=UTC

MANIFEST=$FIXTURES/ext_manifest.txt
# partition number, halvard volume number, start sector
VOLUMES=("1 0 2048" "2 1 26624" "3 2 59392")

# compare.py KIND PARTITION MANIFEST HALVARD_JSON [FLS|SAVED_DIR]: prints differences, exits 1 on any
cat >"$TMP/compare.py" <<'PY'
import hashlib, json, os, sys
kind, part, manifest, listing = sys.argv[1:5]
rows = [l.rstrip("\n").split("\t") for l in open(manifest)]
rows = [r for r in rows if r[0] == part]
ours = json.load(open(listing))
problems = []
if kind == "listing":
    # lost+found is the volume's, not the source's; removed entries are checked elsewhere.
    want = {(r[2], r[1] == "d", int(r[3]) if r[1] != "d" else None, int(r[5])) for r in rows if r[1] in "fld"}
    got = set()
    nodes = {e["path"]: e["kind"] for e in ours if "kind" in e and not e["deleted"]}
    want_nodes = {"/dev/null_char": "character_device", "/dev/loop_block": "block_device", "/dev/pipe": "fifo"}
    if nodes != want_nodes:
        problems.append("device nodes: %r" % nodes)
    for e in ours:
        if e["path"] == "/lost+found" or e["deleted"] or "kind" in e:
            continue
        mtime = int(__import__("calendar").timegm(__import__("time").strptime(e["modified"], "%Y-%m-%dT%H:%M:%S")))
        got.add((e["path"], e["is_dir"], None if e["is_dir"] else e["size"], mtime))
    problems += ["missing: %s" % (w,) for w in sorted(want - got, key=str)]
    problems += ["unexpected: %s" % (g,) for g in sorted(got - want, key=str)]
elif kind == "fls":
    fls = set()
    for line in open(sys.argv[5]):
        meta, _, path = line.rstrip("\n").partition("\t")
        if meta.startswith("r/r") and "*" not in meta and not path.startswith("$OrphanFiles"):
            fls.add("/" + path)
    files = {e["path"] for e in ours if not e["is_dir"] and not e["deleted"] and "kind" not in e}
    files -= {r[2] for r in rows if r[1] == "l"}
    problems += ["only fls: %s" % p for p in sorted(fls - files)]
    problems += ["only halvard: %s" % p for p in sorted(files - fls)]
elif kind == "saved":
    out = sys.argv[5]
    for r in rows:
        path = os.path.join(out, r[2].lstrip("/"))
        if r[1] == "f":
            if not os.path.isfile(path):
                problems.append("not saved: " + r[2])
                continue
            if hashlib.sha256(open(path, "rb").read()).hexdigest() != r[4]:
                problems.append("content differs: " + r[2])
            if int(os.stat(path).st_mtime) != int(r[5]):
                problems.append("mtime differs: %s %d != %s" % (r[2], os.stat(path).st_mtime, r[5]))
        elif r[1] == "l":
            if not os.path.islink(path) or os.readlink(path) != r[4]:
                problems.append("link not saved as a link to its target: " + r[2])
for p in problems[:20]:
    print("   ", p)
sys.exit(1 if problems else 0)
PY

for image in ext_disk.raw ext_disk.vhdx; do
    img=$FIXTURES/$image
    [[ -f $img ]] || { fail "$image: missing from $FIXTURES"; continue; }
    for v in "${VOLUMES[@]}"; do
        read -r part volume start <<<"$v"
        name="$image volume $volume"
        json=$TMP/$image.$volume.json
        if ! "$HALVARD" ls "$img" --volume "$volume" --recursive --json >"$json" 2>"$TMP/err"; then
            fail "$name: ls failed ($(head -1 "$TMP/err"))"
            continue
        fi
        if python3 "$TMP/compare.py" listing "$part" "$MANIFEST" "$json"; then
            pass "$name: listing matches the source folder"
        else
            fail "$name: listing differs from the source folder"
        fi
        if [[ $image == *.raw ]]; then
            fls -r -p -o "$start" "$img" >"$TMP/fls.txt"
            if python3 "$TMP/compare.py" fls "$part" "$MANIFEST" "$json" "$TMP/fls.txt"; then
                pass "$name: regular files match fls"
            else
                fail "$name: regular files differ from fls"
            fi
        fi
        out=$TMP/saved.$image.$volume
        mkdir -p "$out"
        if ! "$HALVARD" save "$img" --volume "$volume" --path / --out "$out" >/dev/null 2>"$TMP/err"; then
            fail "$name: save failed ($(head -1 "$TMP/err"))"
            continue
        fi
        if python3 "$TMP/compare.py" saved "$part" "$MANIFEST" "$json" "$out"; then
            pass "$name: saved files match the source"
        else
            fail "$name: saved files differ from the source"
        fi
        rm -rf "$out"
    done
done

check_end
