#!/usr/bin/env bash
# Checks `halvard volumes` on small disks made with sgdisk, sfdisk, mke2fs and mkfs.fat, with The Sleuth Kit's
# fsstat as the oracle of what each volume holds:
#   - sizes are kept in sectors: a 129-sector ext2 volume and 1500-sector FAT12 volumes are listed with their
#     sector counts (their MiB text is 0) and can be read (`ls` lists ext2's lost+found);
#   - the advanced scan finds the sub-MiB FAT12 volumes too, with the same sizes as the tables give;
#   - GPT sizes count the last LBA: four 2048-sector partitions are 2048 sectors, "1" MiB each;
#   - the file-system column shows what the volume holds (extX, FAT12), else the partition type's name, never
#     the partition's label ("ThisIsName", "primary", "linuxdata").
#
#   small_volumes_are_listed.sh BUILD_DIR
set -euo pipefail
source "$(dirname "$(readlink -f "$0")")/check_lib.sh"

if [[ $# -ne 1 ]]; then
    echo "usage: $0 BUILD_DIR" >&2
    exit 2
fi
HALVARD=$(cd "$1" && pwd)/src/cli/halvard
for tool in sgdisk sfdisk mke2fs mkfs.fat fsstat python3; do
    command -v "$tool" >/dev/null || { echo "missing tool: $tool" >&2; exit 2; }
done
[[ -x $HALVARD ]] || { echo "no halvard binary at $HALVARD" >&2; exit 2; }

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cd "$work"

put() { dd if="$1" of="$2" bs=512 seek="$3" conv=notrunc status=none; }

# The volumes.
truncate -s 66048 ext2_129 && mke2fs -q -F -t ext2 -b 1024 -N 16 -m 0 ext2_129
truncate -s 1M ext2_2048 && mke2fs -q -F -t ext2 -b 1024 -m 0 ext2_2048
truncate -s 768000 fat12_1500 && mkfs.fat -F 12 fat12_1500 >/dev/null
truncate -s 2M fat12_4096 && mkfs.fat -F 12 fat12_4096 >/dev/null

# GPT: ext2 under a label, two partitions without a file system, a swap type, FAT12.
truncate -s 8M gpt.img
sgdisk -n 1:2048:4095 -t 1:8300 -c 1:ThisIsName -n 2:4096:6143 -t 2:8300 -c 2:primary \
    -n 3:6144:8191 -t 3:0700 -c 3:linuxdata -n 4:8192:10239 -t 4:8200 -n 5:10240:14335 -t 5:0700 \
    gpt.img >/dev/null
put ext2_2048 gpt.img 2048
put fat12_4096 gpt.img 10240

# MBR: ext2 of 129 sectors, FAT12 under its own type and under a FAT16 type.
truncate -s 4M mbr.img
printf 'start=2048,size=129,type=83\nstart=4096,size=1500,type=1\nstart=6144,size=1500,type=6\n' | sfdisk -q mbr.img
put ext2_129 mbr.img 2048
put fat12_1500 mbr.img 4096
put fat12_1500 mbr.img 6144

# The oracle: what fsstat sees at each start, and the FAT volumes' own sector counts (mkfs.fat rounds the space
# it is given down; the advanced scan sizes a volume by its boot sector).
oracle() { fsstat -o "$2" "$1" | sed -n 's/^File System Type: //p'; }
fat_sectors() { echo $(($(fsstat -o "$2" "$1" | sed -n 's/^Total Range: 0 - //p') + 1)); }
{
    for s in 2048 10240; do echo "gpt.img $s $(oracle gpt.img $s)"; done
    for s in 2048 4096 6144; do echo "mbr.img $s $(oracle mbr.img $s)"; done
} >oracle.txt
fat_sectors mbr.img 4096 >fat12_sectors.txt

run_checks "$HALVARD" "$work" <<'PY'
import json, subprocess, sys
from check_lib import check, end

halvard, work = sys.argv[1], sys.argv[2]


def run(*args):
    r = subprocess.run([halvard, *args], capture_output=True, text=True, cwd=work, timeout=120)
    return r.returncode, r.stdout, r.stderr


def volumes(image, *args):
    code, out, err = run("volumes", image, *args, "--json")
    if code != 0:
        return None, err
    return [{k: v[k] for k in ("file_system", "size_sectors", "size_text", "start_sector")} for v in json.loads(out)], err


names = {"Ext2": "extX", "FAT12": "FAT12"}
seen = {}
for line in open(work + "/oracle.txt"):
    image, start, kind = line.split(None, 2)
    seen[(image, int(start))] = names.get(kind.strip(), kind.strip())
check(seen[("mbr.img", 4096)] == "FAT12" and seen[("mbr.img", 2048)] == "extX", "fsstat sees ext2 and FAT12",
      str(seen))


fat12 = int(open(work + "/fat12_sectors.txt").read())


def rec(fs, sectors, text, start):
    return {"file_system": fs, "size_sectors": sectors, "size_text": text, "start_sector": start}


expected = {
    ("gpt.img", "--gpt"): [rec(seen[("gpt.img", 2048)], 2048, "1   MB", 2048),
                           rec("Linux filesystem", 2048, "1   MB", 4096), rec("Basic data", 2048, "1   MB", 6144),
                           rec("Linux swap", 2048, "1   MB", 8192), rec(seen[("gpt.img", 10240)], 4096, "2   MB", 10240)],
    ("mbr.img",): [rec(seen[("mbr.img", 2048)], 129, "0   MB", 2048), rec(seen[("mbr.img", 4096)], 1500, "0   MB", 4096),
                   rec(seen[("mbr.img", 6144)], 1500, "0   MB", 6144)],
    # The advanced scan sizes ext2 by its superblock: 64 blocks of 1 KiB in the 129-sector partition.
    ("mbr.img", "--advanced"): [rec("extX", 128, "0   MB", 2048), rec("FAT12", fat12, "0   MB", 4096),
                                rec("FAT12", fat12, "0   MB", 6144)],
}
for (image, *args), want in expected.items():
    got, err = volumes(image, *args)
    check(got == want, "%s %s lists %s" % (image, " ".join(args), want), "got %s %s" % (got, err.strip()))

# Volumes under 1 MiB are read whole.
for volume, expect in (("0", "lost+found"), ("1", None)):
    code, out, err = run("ls", "mbr.img", "--volume", volume)
    check(code == 0 and (expect is None or expect in out), "ls reads mbr.img volume %s" % volume,
          "exit %d: %s %s" % (code, out.strip()[:200], err.strip()[:200]))

end()
PY
