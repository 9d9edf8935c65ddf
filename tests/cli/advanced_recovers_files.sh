#!/usr/bin/env bash
# Checks the advanced roads on the damaged volumes of tests/fixtures/make_advanced_fixtures.sh (FIXTURE_DIR/
# adv_fat_disk.raw, adv_mixed_disk.raw and adv_manifest.json) through the command line:
#
#   advanced_recovers_files.sh BUILD_DIR FIXTURE_DIR
#
# For each volume:
#   - `candidates --json` lists the FAT copies (FAT, exFAT), the cluster heap (exFAT, at the offset its boot
#     sector had) and the $MFT record (NTFS, at the offset its boot sector had; the stranger's records in front of
#     it come first, so the volume's own is not the first candidate);
#   - `ls --mode advanced --recursive --json` with the right candidate, heap and cluster size lists at least 95% of
#     the files written (by name and size; 80% on the quick-formatted volume);
#   - `save --mode advanced --path /` writes those files with the content written (no cluster of them was reused);
#   - files of the volume whose root cluster was overwritten come back under "ORPHAN ENTRY".
# Then the refusals: a candidate that was not found and a cluster size that is none.
set -euo pipefail
SCRIPT_ARGS=("$@")
source "$(dirname "$(readlink -f "$0")")/check_lib.sh"
check_setup "BUILD_DIR FIXTURE_DIR" python3
[[ -f $FIXTURES/adv_manifest.json ]] || {
    echo "no adv_manifest.json in $FIXTURES (run tests/fixtures/make_advanced_fixtures.sh $FIXTURES)" >&2
    exit 2
}

run_checks "$HALVARD" "$FIXTURES" "$TMP" <<'PY'
import hashlib, json, os, subprocess, sys
from check_lib import check, end

halvard, fixtures, tmp = sys.argv[1:4]
manifest = json.load(open(os.path.join(fixtures, "adv_manifest.json")))


def run(*args):
    return subprocess.run([halvard, *args], capture_output=True, text=True, timeout=300)


for v in manifest["volumes"]:
    name, image = v["name"], os.path.join(fixtures, v["disk"])
    # The exFAT volume's zeroed boot sector makes its slot (type 0x07) read as NTFS: it is named by hand.
    volume = "custom:FAT64:%d:%d" % (v["start"], v["size_mib"]) if v["fs"] == "FAT64" else str(v["slot"] - 1)
    r = run("candidates", image, "--volume", volume, "--limit", "4", "--json")
    found = json.loads(r.stdout) if r.returncode == 0 else []
    fats = [c for c in found if c["list"] == "found"]
    heaps = [c for c in found if c["list"] == "heap"]
    check(fats, "%s: candidates lists what the finders found" % name, r.stderr)
    if not fats:
        continue
    picks = ["--sectors-per-cluster", str(v["sectors_per_cluster"])]
    if "mft_offset" in v:
        own = [c["index"] for c in fats if c["offset"] == v["mft_offset"]]
        check(own and own[0] > 0, "%s: the volume's own $MFT record is found, after the stranger's" % name, fats)
        picks += ["--candidate", str(own[0] if own else 0)]
    if "heap_offset" in v:
        own = [c["index"] for c in heaps if c["offset"] == v["heap_offset"]]
        check(own, "%s: the cluster heap is found where the boot sector had it" % name, heaps)
        picks += ["--heap", str(own[0] if own else 0)]
    if "quickformat" in name:
        picks.append("--formatted")

    r = run("ls", image, "--volume", volume, "--mode", "advanced", *picks, "--recursive", "--json")
    check(r.returncode == 0, "%s: ls --mode advanced" % name, r.stderr)
    entries = json.loads(r.stdout) if r.returncode == 0 else []
    listed = {}
    for e in entries:
        if not e["is_dir"]:
            listed.setdefault((e["name"], e["size"]), []).append(e["path"])
    want = v["files"]
    back = [f for f in want if (os.path.basename(f["path"]), f["size"]) in listed]
    share = len(back) / len(want)
    floor = 0.80 if "quickformat" in name else 0.95
    check(share >= floor, "%s: %d of %d files listed by name and size (%.0f%%, at least %.0f%% wanted)"
          % (name, len(back), len(want), 100 * share, 100 * floor),
          [f["path"] for f in want if f not in back])
    if "rootgone" in name:
        orphaned = [f for f in back if f["path"].count("/") > 1 and
                    all(p.startswith("/ORPHAN ENTRY/") for p in listed[(os.path.basename(f["path"]), f["size"])])]
        check(len(orphaned) >= 0.9 * len([f for f in want if f["path"].count("/") > 1]),
              "%s: the files of the lost root's folders come back under ORPHAN ENTRY" % name)

    out = os.path.join(tmp, name)
    r = run("save", image, "--volume", volume, "--mode", "advanced", *picks, "--path", "/", "--out", out)
    check(r.returncode == 0, "%s: save --mode advanced --path /" % name, r.stderr)
    wrong = []
    for f in back:
        paths = listed[(os.path.basename(f["path"]), f["size"])]
        digests = set()
        for p in paths:
            try:
                digests.add(hashlib.sha256(open(os.path.join(out, p.lstrip("/")), "rb").read()).hexdigest())
            except OSError:
                pass
        if f["sha256"] not in digests:
            wrong.append(f["path"])
    check(not wrong, "%s: the saved files hold what was written" % name, wrong)

fat16 = next(v for v in manifest["volumes"] if v["fs"] == "FAT16")
image = os.path.join(fixtures, fat16["disk"])
r = run("search", image, "--volume", "0", "--mode", "advanced", "IMG_01", "--json")
check(r.returncode == 0 and len(json.loads(r.stdout)) == 12, "search --mode advanced finds the twelve pictures",
      r.stderr)
r = run("ls", image, "--volume", "0", "--mode", "advanced", "--candidate", "7")
check(r.returncode == 2 and "No File system Entry Found" in r.stderr, "a candidate that was not found is refused",
      (r.returncode, r.stderr))
r = run("ls", image, "--volume", "0", "--mode", "advanced", "--sectors-per-cluster", "3")
check(r.returncode == 1 and "not a usable cluster size" in r.stderr, "a cluster size that is none is refused",
      (r.returncode, r.stderr))

end()
PY
