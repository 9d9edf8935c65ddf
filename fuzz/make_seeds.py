#!/usr/bin/env python3
"""Cuts the seed corpus (fuzz/corpus/<target>/) from the fixture images.

Each seed is a sparse image (see fuzz/sparse_image.h) holding only the non-zero sectors that `halvard` reads
while it runs a command on a fixture, in the order it first reads them and up to a byte budget, so that a seed
of a few KiB still leads a parser deep into a real structure. strace tells which bytes were read.

    fuzz/make_seeds.py BUILD_DIR FIXTURE_DIR
"""
import os
import re
import struct
import subprocess
import sys
import tempfile

SECTOR = 512
BUDGET = 40 * 1024
HERE = os.path.dirname(os.path.abspath(__file__))


def sectors_read(halvard, args, image):
    """Sector numbers of `image` that `halvard args` reads, in the order of the first read."""
    with tempfile.TemporaryDirectory() as scratch:
        log = os.path.join(scratch, "trace")
        cmd = ["strace", "-f", "-e", "trace=openat,pread64,close", "-o", log, halvard] + \
              [a.replace("{scratch}", scratch) for a in args]
        subprocess.run(cmd, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, check=False)
        fds, order, seen = set(), [], set()
        real = os.path.realpath(image)
        for line in open(log, errors="replace"):
            m = re.search(r'openat\(AT_FDCWD, "([^"]*)".*\) = (\d+)$', line)
            if m:
                if os.path.realpath(m.group(1)) == real:
                    fds.add(int(m.group(2)))
                continue
            m = re.search(r'close\((\d+)\)', line)
            if m:
                fds.discard(int(m.group(1)))
                continue
            m = re.search(r'pread64\((\d+), .*, (\d+), (\d+)\) = (\d+)$', line)
            if m and int(m.group(1)) in fds:
                offset, length = int(m.group(3)), int(m.group(4))
                for s in range(offset // SECTOR, (offset + max(length, 1) - 1) // SECTOR + 1):
                    if s not in seen:
                        seen.add(s)
                        order.append(s)
        return order


def sparse_seed(image, order, base=0, budget=BUDGET, always=()):
    """The records of a sparse image: non-zero sectors of `order` (relative to `base`) within the budget."""
    kept = {}
    with open(image, "rb") as f:
        for s in list(always) + order:
            if s < base or s in kept:
                continue
            f.seek(s * SECTOR)
            data = f.read(SECTOR)
            if not data.strip(b"\0") and s not in always:
                continue
            if len(kept) * SECTOR >= budget and s not in always:
                continue
            kept[s] = data.ljust(SECTOR, b"\0")
    out = bytearray()
    run = []
    for s in sorted(kept) + [None]:
        if run and (s is None or s != run[-1] + 1 or len(run) == 256):
            out += struct.pack("<IB", run[0] - base, len(run) - 1) + b"".join(kept[x] for x in run)
            run = []
        if s is not None:
            run.append(s)
    return bytes(out)


def write(target, name, data):
    folder = os.path.join(HERE, "corpus", target)
    os.makedirs(folder, exist_ok=True)
    with open(os.path.join(folder, name), "wb") as f:
        f.write(data)


def main():
    build, fixtures = sys.argv[1], sys.argv[2]
    halvard = os.path.join(build, "src", "cli", "halvard")
    fx = lambda name: os.path.join(fixtures, name)

    # Image files: what `info` and `volumes` read of them (headers, tables, the first sectors of the disk).
    for target, names in {"image_vhdx": ["ntfs_1m.vhdx", "ntfs_fixed.vhdx", "gpt_mixed.vhdx"],
                          "image_vhd": ["formats_dyn.vhd", "formats_fixed.vhd"],
                          "image_vdi": ["formats_dyn.vdi", "formats_static.vdi"],
                          "image_vmdk": ["formats_sparse.vmdk", "formats_stream.vmdk"]}.items():
        for name in names:
            image = fx(name)
            order = sectors_read(halvard, ["info", image], image) + sectors_read(halvard, ["volumes", image], image)
            last = os.path.getsize(image) // SECTOR - 1
            write(target, name, sparse_seed(image, order, always=[last]))

    # Partition tables: the standard walk, the GPT walk and the advanced scan.
    for name, selector, args in [("mbr_mixed.raw", 0, []), ("gpt_mixed.raw", 1, ["--gpt"]),
                                 ("zeroed_mbr.raw", 2, ["--advanced", "--end", "16384"]),
                                 ("hfs_gpt.raw", 1, ["--gpt"])]:
        image = fx(name)
        order = sectors_read(halvard, ["volumes", image] + args, image)
        write("partition_table", name, bytes([selector]) + sparse_seed(image, order, budget=16 * 1024))

    # Volumes: what listing everything and saving it reads, relative to the volume's start.
    volumes = [("ntfs_volume", "ntfs_disk.raw", "NTFS", 2048, 14, [0, 1]),
               ("ntfs_volume", "ntfs_512.raw", "NTFS", 2048, 14, [0]),
               ("fat_volume", "fat_disk.raw", "FAT12", 2048, 4, [0]),
               ("fat_volume", "fat_disk.raw", "FAT16", 10240, 20, [1]),
               ("fat_volume", "fat_disk.raw", "FAT32", 51200, 34, [2]),
               ("exfat_volume", "fat_disk.raw", "FAT64", 120832, 16, [0]),
               ("ext_volume", "ext_disk.raw", "extX", 2048, 12, [0]),
               ("ext_volume", "ext_disk.raw", "extX", 26624, 16, [0]),
               ("hfsplus_volume", "hfs_mbr.raw", "HFS+", 2048, 4, [0, 1])]
    for target, name, fs, start, mib, selectors in volumes:
        image = fx(name)
        # The command line takes no hand-made FAT12 volume; the fixture's first volume is that one.
        volume = "0" if fs == "FAT12" else "custom:%s:%d:%d" % (fs, start, mib)
        order = sectors_read(halvard, ["ls", image, "--volume", volume, "--recursive"], image) + \
            sectors_read(halvard, ["save", image, "--volume", volume, "--path", "/", "--out", "{scratch}"], image)
        seed = sparse_seed(image, order, base=start, budget=64 * 1024)
        for selector in selectors:
            write(target, "%s-%s-%d-%d" % (name, fs.replace("+", "p"), start, selector), bytes([selector]) + seed)

    ntfs_parts(fx("ntfs_disk.raw"), 2048)

    with open(os.path.join(build, "src", "cli", "FileSetting.txt"), "rb") as f:
        setting = f.read()
    write("signature_file", "FileSetting.txt", setting)


def ntfs_parts(image, start):
    """Single MFT records and one LZNT1 compression unit of the NTFS fixture, found with The Sleuth Kit."""
    run = lambda *a: subprocess.run(list(a), capture_output=True, text=True, check=False).stdout
    with open(image, "rb") as f:
        f.seek(start * SECTOR)
        boot = f.read(SECTOR)
        cluster = struct.unpack_from("<H", boot, 0x0B)[0] * boot[0x0D]
        mft = struct.unpack_from("<Q", boot, 0x30)[0] * cluster
        for path in ["$MFT", "", "Compressed/log.txt", "Photos/big.bin", "Documents/pieces.bin", "Documents/streams.bin",
                     "sparse.bin", "Фото Ærø 日本/résumé ünïcødé.txt"]:
            inode = 0 if path == "$MFT" else 5 if not path else int(run("ifind", "-o", str(start), "-n", path, image).split("-")[0] or 0)
            if not inode and path != "$MFT":
                continue
            f.seek(start * SECTOR + mft + inode * 1024)
            write("ntfs_record", "record-%d" % inode, f.read(1024))
        inode = run("ifind", "-o", str(start), "-n", "Compressed/log.txt", image).strip()
        clusters = [int(c) for c in re.findall(r"\b(\d+)\b", run("istat", "-o", str(start), image, inode)
                                                 .split("$DATA")[-1].split("\n", 1)[-1])]
        unit = b""
        for c in clusters[:16]:
            if c == 0:
                break
            f.seek(start * SECTOR + c * cluster)
            unit += f.read(cluster)
        write("lznt1", "log-unit", bytes([15]) + unit)


if __name__ == "__main__":
    main()
