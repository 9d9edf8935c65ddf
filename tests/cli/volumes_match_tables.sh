#!/usr/bin/env bash
# Checks `halvard volumes` against the partition tables that sfdisk, sgdisk and mmls read back
# from the disk fixtures (FIXTURE_DIR/tables.txt, written by tests/fixtures/make_fixtures.sh),
# and against what make_fixtures.sh put into each partition.
#
#   volumes_match_tables.sh BUILD_DIR FIXTURE_DIR
#
# Table walk (raw and VHDX form of each disk):
#   mbr_mixed   one record per partition, primaries in table order, then the logical volumes
#               in EBR chain order; the extended partition itself is no record. file_system by
#               type: 0x06 FAT16, 0x0C FAT32, 0x07 NTFS or FAT64 (an exFAT boot sector),
#               0x83 extX, 0xAF HFS+ (volume header found). size_sectors = table sectors,
#               size_mib = table sectors / 2048.
#   gpt_mixed   with and without --gpt (without it, the "EFI PART" header is noticed and
#               stderr says so): EFI system partition FAT32, basic data NTFS, sizes from the
#               boot sector's own sector count (NTFS counts one sector less than its
#               partition: its backup boot sector, which the size includes); the Microsoft
#               reserved partition is no record; the Linux partition holds ext3 and is listed
#               as extX (never under its GPT name) with (last - first + 1) sectors, its MiB
#               without a unit.
#   hfs_mbr, hfs_gpt   the HFS+ volume at sector 2048.
#   zeroed_mbr  nothing: its MBR sector is zero.
# Advanced scan (boot sectors and volume headers, tables ignored):
#   zeroed_mbr, mbr_mixed, gpt_mixed, hfs_*, hfsplus_xorriso.iso: every NTFS, FAT32, exFAT,
#   HFS+ volume, and FAT16 with 128, 200 or 256 sectors per FAT, in disk order, at its first
#   sector, sized by its own boot sector or volume header (volumes under 1 MiB too); ext3 and
#   empty partitions are not listed. Each volume of these disks is followed by a free sector, an EBR or the next
#   volume's first sector after the NTFS backup boot sector, so that jumping over a volume
#   never jumps over the boot sector of the next one.
#   --no-skip on zeroed_mbr: additionally, and required, the NTFS backup boot sector at the
#   volume's last sector (an "NTFS" record); tolerated, because they are real copies of the
#   boot sector (make_fixtures.sh checks that), the FAT32 backup boot sector (+6) and the
#   exFAT backup boot sector (+12) with the same file system and size. Nothing else.
#   --start S / --end E: the volumes starting in [S, E] are required (a volume starting at E
#   too: the end sector is inclusive), those starting up to one 1 MiB chunk after E are
#   tolerated; S is always a volume's first sector here.
# Every record list must be numbered 0, 1, 2... and no image may change (content, mtime).
set -euo pipefail
source "$(dirname "$(readlink -f "$0")")/check_lib.sh"

SCRIPT_ARGS=("$@")
check_setup "BUILD_DIR FIXTURE_DIR" python3
[[ -f $FIXTURES/tables.txt ]] || {
    echo "no tables.txt in $FIXTURES (run tests/fixtures/make_fixtures.sh $FIXTURES)" >&2
    exit 2
}

run_checks "$HALVARD" "$FIXTURES" <<'PY'
import hashlib, json, os, subprocess, sys
from check_lib import check, end

halvard, fixtures = sys.argv[1], sys.argv[2]
MIB = 1048576


# ---------------------------------------------------------------- the oracle

class Part:
    def __init__(self, cols):
        (self.disk, self.scheme, slot, start, sectors, self.type, self.name, self.fs,
         fs_sectors, facts) = cols
        self.slot, self.start, self.sectors = int(slot), int(start), int(sectors)
        self.fs_sectors = None if fs_sectors == "-" else int(fs_sectors)
        self.facts = {} if facts == "-" else dict(f.split("=") for f in facts.split(","))


tables = {}
for line in open(os.path.join(fixtures, "tables.txt"), encoding="utf-8"):
    if line.startswith("#") or not line.strip():
        continue
    p = Part(line.rstrip("\n").split("\t"))
    tables.setdefault(p.disk, []).append(p)
for disk in ("mbr_mixed", "zeroed_mbr", "gpt_mixed", "hfs_mbr", "hfs_gpt", "hfsplus_xorriso"):
    if disk not in tables:
        sys.exit("tables.txt has no rows for %s; rebuild the fixtures" % disk)


def rec(fs, sectors, text, start):
    return {"file_system": fs, "size_mib": sectors // 2048, "size_sectors": sectors, "size_text": text,
            "start_sector": start}


# GPT partition types by GUID, for partitions whose file system is not recognised.
GPT_TYPES = {"C12A7328-F81F-11D2-BA4B-00A0C93EC93B": "EFI System",
             "EBD0A0A2-B9E5-4433-87C0-68B6B72699C7": "Basic data",
             "0FC63DAF-8483-4772-8E79-3D69D8477DE4": "Linux filesystem",
             "48465300-0000-11AA-AA11-00306543ECAC": "Apple HFS+"}


# Size texts: "N   MB" (three blanks) for every volume, whatever found it.
def mb3(n):
    return "%d   MB" % n


mb2 = mb3


# MBR type byte -> file_system; 0x07 depends on the boot sector, 0xAF on the volume header.
MBR_TYPES = {0x01: "FAT12", 0x04: "FAT16", 0x06: "FAT16", 0x0E: "FAT16", 0x0B: "FAT32",
             0x0C: "FAT32", 0x83: "extX"}


def expect_mbr(rows):
    """Records of the MBR walk: primaries until an empty or extended slot, then the chain."""
    by_slot = {p.slot: p for p in rows}
    out, chain = [], False
    for slot in range(1, 5):
        p = by_slot.get(slot)
        if p is None:
            break
        if p.scheme == "mbr-extended":
            chain = True
            break
        out.append(p)
    if chain:
        out += sorted((p for p in rows if p.scheme == "mbr-logical"), key=lambda p: p.slot)
    recs = []
    for p in out:
        t = int(p.type, 16)
        if t == 0x07:
            fs = "FAT64" if p.fs == "exfat" else "NTFS"
        elif t == 0x42:
            fs = "NTFS" if p.scheme == "mbr-primary" else "Unknown"
        elif t == 0xAF:
            fs = "HFS+" if p.fs == "hfsplus" else "Unknown"
        else:
            fs = MBR_TYPES.get(t, "Unknown")
        recs.append(rec(fs, p.sectors, mb3(p.sectors // 2048), p.start))
    return recs


def expect_gpt(rows):
    recs = []
    for p in sorted(rows, key=lambda p: p.slot):
        if p.name == "Microsoft reserved partition":
            continue
        own = p.fs_sectors or 0
        if p.fs == "ntfs":
            own += 1  # the backup boot sector
        mib = own // 2048
        if p.fs == "ntfs":
            r = rec("NTFS", own, mb3(mib), p.start)
        elif p.fs == "fat32":
            r = rec("FAT32", own, mb2(mib), p.start)
        elif p.fs == "fat16":
            r = rec("FAT16", own, mb2(mib), p.start) if p.facts["spf"] in ("200", "256") else None
        elif p.fs == "exfat":
            r = rec("FAT64", own, mb2(mib), p.start)
        else:
            fs = ("HFS+" if p.fs == "hfsplus" else "extX" if p.fs.startswith("ext") else
                  GPT_TYPES.get(p.type.upper(), "Unknown"))
            recs.append(rec(fs, p.sectors, mb3(p.sectors // 2048), p.start))
            continue
        if r is not None and own > 0:
            recs.append(r)
    return recs


def found_by_scan(p):
    """The record an advanced scan makes for the volume in partition p, or None."""
    if p.fs_sectors is None:
        return None
    sectors = p.fs_sectors + (1 if p.fs == "ntfs" else 0)  # NTFS: its backup boot sector
    mib = sectors // 2048
    if p.fs == "ntfs":
        r = rec("NTFS", sectors, mb3(mib), p.start)
    elif p.fs == "fat32" or (p.fs == "fat16" and p.facts["spf"] in ("128", "200", "256")):
        r = rec(p.fs.upper(), sectors, mb2(mib), p.start)
    elif p.fs == "exfat":
        r = rec("FAT64", sectors, mb2(mib), p.start)
    elif p.fs == "hfsplus":
        r = rec("HFS+", sectors, mb2(mib), p.start) if mib < 20971520 else None
    elif p.fs.startswith("ext"):
        r = rec("extX", sectors, mb3(mib), p.start)
    else:
        return None
    return r if sectors > 0 else None


def expect_scan(rows, first=None, last=None, no_skip=False):
    """(required, tolerated) records of an advanced scan from sector first to sector last."""
    required, tolerated = [], []
    for p in sorted(rows, key=lambda p: p.start):
        r = found_by_scan(p)
        if r is None:
            continue
        if first is not None and p.start < first:
            continue
        if last is not None and p.start > last:
            if p.start <= last + 2047:
                tolerated.append(r)
            continue
        required.append(r)
        if no_skip and "backup_boot" in p.facts:
            backup = dict(r, start_sector=int(p.facts["backup_boot"]))
            (required if p.fs == "ntfs" else tolerated).append(backup)
    return required, tolerated


# ---------------------------------------------------------------- running halvard

def volumes(image, *args):
    """(records or None, stderr, problem) of `halvard volumes IMAGE ARGS --json`."""
    cmd = [halvard, "volumes", os.path.join(fixtures, image), *args, "--json"]
    try:
        r = subprocess.run(cmd, capture_output=True, text=True, timeout=300)
    except subprocess.TimeoutExpired:
        return None, "", "timed out"
    if r.returncode != 0:
        return None, r.stderr, "exit %d: %s" % (r.returncode, r.stderr.strip()[:300])
    try:
        recs = json.loads(r.stdout)
    except ValueError as e:
        return None, r.stderr, "output is not JSON (%s)" % e
    if not isinstance(recs, list) or not all(isinstance(x, dict) for x in recs):
        return None, r.stderr, "output is not an array of objects"
    return recs, r.stderr, None


def show(r):
    return "%s@%s %s MiB '%s'" % (r.get("file_system"), r.get("start_sector"), r.get("size_mib"),
                                 r.get("size_text"))


FIELDS = ("file_system", "size_mib", "size_sectors", "size_text", "start_sector")


def strip(r):
    return {k: r.get(k) for k in FIELDS}


def compare(label, image, args, required, tolerated=()):
    """One check line per required record, plus numbering, order and extras."""
    what = "%s %s" % (image, " ".join(args) or "(tables)")
    got, err, problem = volumes(image, *args)
    if got is None:
        check(False, "%s: %s runs" % (label, what), problem)
        return None, err
    if got:
        check([r.get("volume") for r in got] == list(range(len(got))),
              "%s: %s numbers its %d records 0.." % (label, what, len(got)),
              "volume fields %s" % [r.get("volume") for r in got])
    rest = [strip(r) for r in got]
    for want in required:
        ok = want in rest
        if ok:
            rest.remove(want)
        check(ok, "%s: %s lists %s" % (label, what, show(want)),
              "got " + "; ".join(show(r) for r in got))
    extras = [r for r in rest if r not in tolerated]
    allowed = " (may add %s)" % ", ".join(show(r) for r in tolerated) if tolerated else ""
    check(not extras, "%s: %s lists nothing else%s" % (label, what, allowed),
          "unexpected " + "; ".join(show(r) for r in extras))
    if len(required) > 1:
        order = [strip(r) for r in got if strip(r) in required]
        check(order == [r for r in required if r in order], "%s: %s keeps disk order" % (label, what),
              "got " + "; ".join(show(r) for r in order))
    return got, err


def fingerprint(path):
    with open(path, "rb") as f:
        return hashlib.sha256(f.read()).hexdigest(), os.stat(path).st_mtime_ns


# ---------------------------------------------------------------- the checks

images = ["mbr_mixed.raw", "mbr_mixed.vhdx", "zeroed_mbr.raw", "zeroed_mbr.vhdx", "gpt_mixed.raw",
          "gpt_mixed.vhdx", "hfs_mbr.raw", "hfs_mbr.vhdx", "hfs_gpt.raw", "hfs_gpt.vhdx",
          "hfsplus_xorriso.iso"]
for image in images:
    if not os.path.exists(os.path.join(fixtures, image)):
        sys.exit("missing fixture %s; rebuild the fixtures" % image)
before = {image: fingerprint(os.path.join(fixtures, image)) for image in images}

for form in ("raw", "vhdx"):
    compare("MBR chain", "mbr_mixed." + form, [], expect_mbr(tables["mbr_mixed"]))
    compare("MBR with HFS+", "hfs_mbr." + form, [], expect_mbr(tables["hfs_mbr"]))
    compare("zeroed MBR", "zeroed_mbr." + form, [], [])

    for args in (["--gpt"], []):
        got, err = compare("GPT", "gpt_mixed." + form, args, expect_gpt(tables["gpt_mixed"]))
        if not args and got is not None:
            check("gpt" in err.lower(), "GPT: gpt_mixed.%s without --gpt says on stderr that it walks "
                  "the GPT" % form, "stderr: %r" % err.strip())
        compare("GPT with HFS+", "hfs_gpt." + form, args, expect_gpt(tables["hfs_gpt"]))

    zeroed = tables["zeroed_mbr"]
    compare("advanced", "zeroed_mbr." + form, ["--advanced"], *expect_scan(zeroed))
    compare("advanced", "zeroed_mbr." + form, ["--advanced", "--no-skip"],
            *expect_scan(zeroed, no_skip=True))
    # The MBR sector is no boot sector: the intact disk scans the same.
    compare("advanced", "mbr_mixed." + form, ["--advanced"], *expect_scan(tables["mbr_mixed"]))
    compare("advanced", "gpt_mixed." + form, ["--advanced"], *expect_scan(tables["gpt_mixed"]))
    compare("advanced", "hfs_mbr." + form, ["--advanced"], *expect_scan(tables["hfs_mbr"]))
    compare("advanced", "hfs_gpt." + form, ["--advanced"], *expect_scan(tables["hfs_gpt"]))

# Windows on the zeroed disk, each starting at a volume's first sector.
by_fs = {p.fs: p.start for p in tables["zeroed_mbr"]}
for first, last in ((by_fs["fat16"], 100000), (by_fs["fat32"], None), (None, by_fs["fat16"])):
    args = ["--advanced"]
    args += ["--start", str(first)] if first is not None else []
    args += ["--end", str(last)] if last is not None else []
    compare("advanced window", "zeroed_mbr.vhdx", args,
            *expect_scan(tables["zeroed_mbr"], first=first, last=last))

# The HFS+ tree of a hybrid ISO (a flat image) behind an Apple partition map.
compare("advanced", "hfsplus_xorriso.iso", ["--advanced"], *expect_scan(tables["hfsplus_xorriso"]))

for image in images:
    check(fingerprint(os.path.join(fixtures, image)) == before[image],
          "read-only: %s is unchanged (content and modification time)" % image)

end()
PY
