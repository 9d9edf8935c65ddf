#!/usr/bin/env bash
# Checks the FAT-family advanced roads end to end with the picks a user gets by default, on the damaged bare
# volumes of tests/fixtures/make_fat_road_fixtures.sh (FIXTURE_DIR/road_*.raw and road_manifest.json):
#
#   fat_road_keeps_folders.sh BUILD_DIR FIXTURE_DIR
#
# For each volume:
#   - FAT32 and exFAT: `candidates` offers the volume's own cluster size first, from the backup boot sector;
#   - `ls --mode advanced --recursive --json` lists every file written at its own path (folder and name) with
#     its size: folders whose entries fill many clusters keep all their children. FAT32 and exFAT with the
#     default picks; FAT16 and FAT12, which keep no backup, with their cluster size named. exFAT: the root's own
#     entries are not told apart from lost ones, so its folders come under "ORPHAN ENTRY" whole;
#   - `save --mode advanced --path /` writes each of them at that path with the content written.
set -euo pipefail
SCRIPT_ARGS=("$@")
source "$(dirname "$(readlink -f "$0")")/check_lib.sh"
check_setup "BUILD_DIR FIXTURE_DIR" python3
[[ -f $FIXTURES/road_manifest.json ]] || {
    echo "no road_manifest.json in $FIXTURES (run tests/fixtures/make_fat_road_fixtures.sh $FIXTURES)" >&2
    exit 2
}

run_checks "$HALVARD" "$FIXTURES" "$TMP" <<'PY'
import hashlib, json, os, re, subprocess, sys
from check_lib import check, end

halvard, fixtures, tmp = sys.argv[1:4]
manifest = json.load(open(os.path.join(fixtures, "road_manifest.json")))


def run(*args):
    return subprocess.run([halvard, *args], capture_output=True, text=True, timeout=300)


for v in manifest["volumes"]:
    name, image = v["fs"], os.path.join(fixtures, v["file"])
    volume = "custom:%s:0:%d" % ("FAT16" if v["fs"] == "FAT12" else v["fs"], v["size_mib"])
    backup = v["fs"] in ("FAT32", "FAT64")
    picks = [] if backup else ["--sectors-per-cluster", v["cluster"]]
    if backup:
        r = run("candidates", image, "--volume", volume)
        sizes = re.search(r"Sector Per Cluster\s*:\s*(.*)", r.stdout)
        offered = sizes.group(1).split() if sizes else []
        check(offered[:1] == [v["cluster"]], "%s: the backup boot sector's cluster size is offered first" % name,
              (r.returncode, r.stdout, r.stderr))

    r = run("ls", image, "--volume", volume, "--mode", "advanced", *picks, "--recursive", "--json")
    check(r.returncode == 0, "%s: ls --mode advanced %s" % (name, " ".join(picks) or "with the default picks"),
          r.stderr)
    prefix = "/ORPHAN ENTRY" if v["fs"] == "FAT64" else ""
    listed = {(e["path"], e["size"]) for e in (json.loads(r.stdout) if r.returncode == 0 else []) if not e["is_dir"]}
    want = v["files"]
    at_path = [f for f in want if (prefix + f["path"], f["size"]) in listed]
    check(len(at_path) == len(want), "%s: %d of %d files listed at their paths" % (name, len(at_path), len(want)),
          [f["path"] for f in want if f not in at_path][:12])

    out = os.path.join(tmp, name)
    r = run("save", image, "--volume", volume, "--mode", "advanced", *picks, "--path", "/", "--out", out)
    check(r.returncode == 0, "%s: save --mode advanced --path /" % name, r.stderr)
    wrong = []
    for f in at_path:
        try:
            digest = hashlib.sha256(open(os.path.join(out, (prefix + f["path"]).lstrip("/")), "rb").read()).hexdigest()
        except OSError:
            digest = None
        if digest != f["sha256"]:
            wrong.append(f["path"])
    check(not wrong, "%s: the saved files hold what was written, at their paths" % name, wrong[:12])

end()
PY
