#!/usr/bin/env bash
# Checks volumes without a partition table (tests/fixtures/make_bare_fixtures.sh), with The Sleuth Kit as the
# oracle of what each holds:
#   - the standard scan lists the image as volume 0 from sector 0, with its file system and the image's size
#     (the boot sectors of FAT and NTFS end in 55AA like an MBR and are not walked as one);
#   - the advanced scan finds the same volume with the same size, ext volumes included;
#   - `ls --volume 0 --recursive` lists the regular files fls lists, with their sizes;
#   - on an MBR disk with two ext2 volumes (a primary and a logical one), both scans find both.
#
#   bare_volumes_are_listed.sh BUILD_DIR FIXTURE_DIR
set -euo pipefail

SCRIPT_ARGS=("$@")
source "$(dirname "$(readlink -f "$0")")/check_lib.sh"
check_setup "BUILD_DIR FIXTURE_DIR" fls python3

run_checks "$HALVARD" "$FIXTURES" <<'PY'
import json, os, subprocess, sys
from check_lib import check, end

halvard, fixtures = sys.argv[1], sys.argv[2]


def run(*args):
    r = subprocess.run([halvard, *args], capture_output=True, text=True, timeout=300)
    return r.returncode, r.stdout, r.stderr


def volumes(image, *args):
    code, out, err = run("volumes", os.path.join(fixtures, image), *args, "--json")
    if code != 0:
        return None
    return [(v["volume"], v["file_system"], v["start_sector"], v["size_sectors"]) for v in json.loads(out)]


def fls_files(image, offset):
    out = subprocess.run(["fls", "-r", "-p", "-m", "/", "-o", str(offset), os.path.join(fixtures, image)],
                         capture_output=True, text=True, check=True).stdout
    files = {}
    for line in out.splitlines():
        f = line.split("|")
        name = "/" + f[1].lstrip("/")
        if f[3].startswith("r/r") and "/$" not in name and "(deleted)" not in name and "(Volume Label" not in name \
                and "($FILE_NAME)" not in name:
            files[name] = int(f[6])
    return files


def ls_files(image, *args):
    code, out, err = run("ls", os.path.join(fixtures, image), *args, "--recursive", "--json")
    if code != 0:
        return None
    return {e["path"]: e["size"] for e in json.loads(out)
            if not e["is_dir"] and not e["deleted"] and "/$" not in e["path"] and not e["path"].startswith("/ORPHAN")}


def visible(files):
    # HFS+'s private folders carry control characters fls shows as "^"; its link is no regular file to fls.
    return {p: s for p, s in files.items() if "HFS+ Private" not in p and "^" not in p and "\0" not in p
            and not p.endswith("a_link")}


BARE = [("bare_ntfs.raw", "NTFS"), ("bare_ntfs_windows.raw", "NTFS"), ("bare_fat12.raw", "FAT12"),
        ("bare_fat16.raw", "FAT16"), ("bare_fat32.raw", "FAT32"), ("bare_exfat.raw", "FAT64"),
        ("bare_ext2.raw", "extX"), ("bare_ext3.raw", "extX"), ("bare_ext4.raw", "extX"),
        ("bare_hfsplus.raw", "HFS+")]
for image, fs in BARE:
    sectors = os.path.getsize(os.path.join(fixtures, image)) // 512
    want = [(0, fs, 0, sectors)]
    check(volumes(image) == want, "%s: the standard scan lists volume 0 (%s, %d sectors) from sector 0"
          % (image, fs, sectors), volumes(image))
    check(volumes(image, "--advanced") == want, "%s: the advanced scan finds the same volume" % image,
          volumes(image, "--advanced"))
    theirs, ours = fls_files(image, 0), ls_files(image, "--volume", "0")
    check(ours is not None and visible(ours) == visible(theirs),
          "%s: ls lists the %d files fls lists, with their sizes" % (image, len(visible(theirs))), (ours, theirs))

# fsstat: each ext2 volume has 64 blocks of 1 KiB in its 129-sector partition. The advanced scan sees no table
# and sizes a volume by its superblock.
check(volumes("dfvfs_mbr.raw") == [(0, "extX", 1, 129), (1, "extX", 131, 129)],
      "dfvfs_mbr.raw: the standard scan lists the primary and the logical ext2 volume", volumes("dfvfs_mbr.raw"))
check(volumes("dfvfs_mbr.raw", "--advanced") == [(0, "extX", 1, 128), (1, "extX", 131, 128)],
      "dfvfs_mbr.raw: the advanced scan finds both ext2 volumes by their superblocks",
      volumes("dfvfs_mbr.raw", "--advanced"))
for volume, offset in (("0", 1), ("1", 131)):
    theirs = fls_files("dfvfs_mbr.raw", offset)
    for scan in ((), ("--advanced",)):
        ours = ls_files("dfvfs_mbr.raw", "--volume", volume, *scan)
        check(ours is not None and visible(ours) == visible(theirs), "dfvfs_mbr.raw volume %s %s: ls lists fls's files" % (volume, " ".join(scan)),
              (ours, theirs))
end()
PY
