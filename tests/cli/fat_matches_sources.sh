#!/usr/bin/env bash
# Checks the FAT12, FAT16, FAT32 and exFAT engines on the FAT fixture disk (FIXTURE_DIR/fat_disk.raw and
# .vhdx, written by tests/fixtures/make_fat_fixtures.sh with its fat_manifest.json) through the command line:
#
#   fat_matches_sources.sh BUILD_DIR FIXTURE_DIR
#
# For each of the four volumes, found by `halvard volumes`:
#   - `ls --recursive --json`: the live files (path, size) and folders are exactly those written; the live
#     paths are exactly the allocated ones The Sleuth Kit's `fls -r -p -u` lists; the deleted file and the
#     deleted folder with its two files are listed with `deleted: true` (a deleted 8.3 name by the rest of
#     its name: its first letter is gone); modification times are the DOS
#     times written (the source files' mtimes, in UTC).
#   - `save --path /`: every live file's content equals its source, and its modification time is the source's.
#   - `save --path /deleted-note.txt`: the deleted one-cluster file comes back intact; with `--formatted` the
#     deleted "OldStuff/old-two.txt" (1,500 bytes written in one piece: three clusters on the FAT32 volume) comes back
#     whole too.
# The VHDX form of the disk lists the same.
set -euo pipefail
source "$(dirname "$(readlink -f "$0")")/check_lib.sh"
SCRIPT_ARGS=("$@")
check_setup "BUILD_DIR FIXTURE_DIR" python3 fls
[[ -f $FIXTURES/fat_manifest.json ]] || {
    echo "no fat_manifest.json in $FIXTURES (run tests/fixtures/make_fat_fixtures.sh $FIXTURES)" >&2
    exit 2
}
export TZ=UTC

run_checks "$HALVARD" "$FIXTURES" "$TMP" <<'PY'
import hashlib, json, os, subprocess, sys
from check_lib import check, end

halvard, fixtures, out = sys.argv[1:4]
raw = os.path.join(fixtures, "fat_disk.raw")
vhdx = os.path.join(fixtures, "fat_disk.vhdx")
manifest = json.load(open(os.path.join(fixtures, "fat_manifest.json")))


def run(*args):
    return subprocess.run([halvard, *args], capture_output=True, text=True, timeout=120)


def ls(image, volume):
    r = run("ls", image, "--volume", str(volume), "--recursive", "--json")
    return json.loads(r.stdout) if r.returncode == 0 else None


def fls_live(start):
    r = subprocess.run(["fls", "-r", "-p", "-u", "-o", str(start), raw], capture_output=True, text=True, timeout=120)
    paths = set()
    for line in r.stdout.splitlines():
        kind, _, rest = line.partition(" ")
        path = rest.split("\t", 1)[1] if "\t" in rest else ""
        # The Sleuth Kit adds its own entries ($FAT1, $MBR, $OrphanFiles, the volume label...).
        if not path or any(part.startswith("$") for part in path.split("/")) or "(Volume Label Entry)" in path:
            continue
        paths.add("/" + path)
    return paths


vols = json.loads(run("volumes", raw, "--json").stdout)
for v in manifest["volumes"]:
    fs = v["fs"]
    record = next((r for r in vols if r["start_sector"] == v["start"]), None)
    check(record is not None, "%s: volume at sector %d listed" % (fs, v["start"]))
    if record is None:
        continue
    n = record["volume"]
    entries = ls(raw, n)
    check(entries is not None, "%s: ls --recursive --json" % fs)
    if entries is None:
        continue
    live_files = {e["path"]: e for e in entries if not e["deleted"] and not e["is_dir"]}
    live_dirs = {e["path"] for e in entries if not e["deleted"] and e["is_dir"]}
    want_files = {f["path"]: f for f in v["files"]}
    check({p: e["size"] for p, e in live_files.items()} == {p: f["size"] for p, f in want_files.items()},
          "%s: live files and sizes are the ones written" % fs,
          (set(live_files) ^ set(want_files)) or [p for p in want_files if live_files[p]["size"] != want_files[p]["size"]])
    check(live_dirs == set(v["dirs"]), "%s: live folders are the ones written" % fs, live_dirs ^ set(v["dirs"]))
    fls = fls_live(v["start"])
    check(fls == set(live_files) | live_dirs, "%s: live paths match fls -r -p -u" % fs, fls ^ (set(live_files) | live_dirs))
    wrong_times = [p for p, f in want_files.items() if p in live_files and
                   live_files[p]["modified"] != __import__("time").strftime("%Y-%m-%dT%H:%M:%S", __import__("time").gmtime(f["mtime"]))]
    check(not wrong_times, "%s: modification times are the DOS times written" % fs, wrong_times)
    # A deleted 8.3 name has lost its first letter to the deletion mark, shown as U+FFE5.
    def deleted_key(path):
        head, _, name = path.rpartition("/")
        return head + "/" + name[1:]
    by_path = {}
    for e in entries:
        by_path.setdefault(e["path"], []).append(e)
        if e["deleted"]:
            by_path.setdefault(deleted_key(e["path"]), []).append(e)
    missing = [d["path"] for d in v["deleted"]
               if not any(e["deleted"] and e["is_dir"] == d["is_dir"] and (d["is_dir"] or e["size"] == d["size"])
                          for e in by_path.get(d["path"], []) + by_path.get(deleted_key(d["path"]), []))]
    check(not missing, "%s: deleted files and folders listed as deleted" % fs, missing)

    target = os.path.join(out, fs)
    r = run("save", raw, "--volume", str(n), "--path", "/", "--out", target)
    check(r.returncode == 0, "%s: save --path /" % fs, r.stderr)
    bad_content, bad_time = [], []
    for p, f in want_files.items():
        host = os.path.join(target, p.lstrip("/"))
        try:
            data = open(host, "rb").read()
        except OSError:
            bad_content.append(p)
            continue
        if hashlib.sha256(data).hexdigest() != f["sha256"]:
            bad_content.append(p)
        if int(os.stat(host).st_mtime) != f["mtime"]:
            bad_time.append(p)
    check(not bad_content, "%s: saved files equal their sources" % fs, bad_content)
    check(not bad_time, "%s: saved files keep their modification times" % fs, bad_time)

    note = next(d for d in v["deleted"] if d["path"] == "/deleted-note.txt")
    target = os.path.join(out, fs + "-deleted")
    r = run("save", raw, "--volume", str(n), "--path", "/deleted-note.txt", "--out", target)
    host = os.path.join(target, "deleted-note.txt")
    ok = r.returncode == 0 and os.path.exists(host) and hashlib.sha256(open(host, "rb").read()).hexdigest() == note["sha256"]
    check(ok, "%s: the deleted one-cluster file comes back intact" % fs, r.stderr)

    two = next(d for d in v["deleted"] if d["path"] == "/OldStuff/old-two.txt")
    listed = next((e["path"] for e in by_path.get(two["path"], []) + by_path.get(deleted_key(two["path"]), [])), None)
    target = os.path.join(out, fs + "-formatted")
    r = run("save", raw, "--volume", str(n), "--formatted", "--path", listed or two["path"], "--out", target)
    host = os.path.join(target, (listed or "").rpartition("/")[2])
    ok = r.returncode == 0 and os.path.isfile(host) and hashlib.sha256(open(host, "rb").read()).hexdigest() == two["sha256"]
    check(ok, "%s: with --formatted a deleted file comes back whole" % fs, r.stderr)

    check(ls(vhdx, n) == entries, "%s: the VHDX form lists the same" % fs)

end()
PY
