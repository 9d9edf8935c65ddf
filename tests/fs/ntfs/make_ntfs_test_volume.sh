#!/usr/bin/env bash
# Makes a small NTFS volume with real tools for the NTFS engine's end-to-end test:
# mkntfs formats it, ntfs-3g fills it, then one file is deleted.
#
#   make_ntfs_test_volume.sh OUTDIR [FILES]
#
# Writes OUTDIR/ntfs.img (the volume, no partition table) and OUTDIR/manifest.txt, one line per entry,
# tab separated:  kind  state  size  content  mtime_ns  path
# (kind dir|file, state live|deleted, content the name of the file in OUTDIR/expected holding what was written,
# mtime_ns 0 when not set on purpose, path '/'-joined from the root). With FILES > 0 it only makes a volume
# holding that many files in 100 folders (timing runs), without a manifest.
#
# Needs root (FUSE mount). Exits 77 when a tool or root is missing, so callers can skip.
set -euo pipefail

OUT=${1:?usage: $0 OUTDIR [FILES]}
MANY=${2:-0}
for tool in mkntfs ntfs-3g python3 mountpoint umount; do
    command -v "$tool" >/dev/null || { echo "missing $tool" >&2; exit 77; }
done
[[ $EUID -eq 0 && -e /dev/fuse ]] || { echo "needs root and /dev/fuse" >&2; exit 77; }

mkdir -p "$OUT"
IMG=$OUT/ntfs.img
MNT=$(mktemp -d /tmp/halvard-ntfs-mnt.XXXXXX)
PID=
finish() {
    if mountpoint -q "$MNT"; then umount "$MNT" || umount -l "$MNT" || true; fi
    [[ -n $PID ]] && wait "$PID" 2>/dev/null || true
    rmdir "$MNT" 2>/dev/null || true
}
trap finish EXIT

SIZE_MIB=8
[[ $MANY -gt 0 ]] && SIZE_MIB=$(( 64 + MANY * 6 / 1024 ))
rm -f "$IMG"
truncate -s $((SIZE_MIB * 1024 * 1024)) "$IMG"
mkntfs -q -F -Q -T -s 512 -c 4096 -L HALVARD "$IMG" >/dev/null 2>&1

ntfs-3g -o no_detach,noatime,compression "$IMG" "$MNT" >"$OUT/ntfs-3g.log" 2>&1 &
PID=$!
for _ in $(seq 100); do mountpoint -q "$MNT" && break; sleep 0.05; done
mountpoint -q "$MNT" || { cat "$OUT/ntfs-3g.log" >&2; exit 1; }

# The text maker the fixtures share; no bytecode written into the source tree.
PYTHONPATH="$(dirname "$(readlink -f "$0")")/../../fixtures" PYTHONDONTWRITEBYTECODE=1 \
    python3 - "$MNT" "$OUT/manifest.txt" "$MANY" <<'PY'
import os, random, struct, sys

from fixture_text import numbered_lines as text

mnt, manifest, many = sys.argv[1], sys.argv[2], int(sys.argv[3])
rows = []
expected = os.path.join(os.path.dirname(manifest), "expected")

def keep(data):
    os.makedirs(expected, exist_ok=True)
    name = "%03d.bin" % len(rows)
    with open(os.path.join(expected, name), "wb") as f:
        f.write(data)
    return name

def p(path):
    return os.path.join(mnt, path)

if many:
    for d in range(100):
        os.mkdir(p("d%03d" % d))
    for i in range(many):
        with open(p("d%03d/file%06d.txt" % (i % 100, i)), "wb") as f:
            f.write(b"x" * (i % 700))
    sys.exit(0)

def ntfs_time(unix_ns):
    return unix_ns // 100 + 116444736000000000

def set_times(path, mtime_ns):
    # creation, modification, access, MFT change
    t = ntfs_time(mtime_ns)
    os.setxattr(p(path), "system.ntfs_times", struct.pack("<4Q", t - 864000000000, t, t, t))

def rand(path, size):
    return random.Random(path).randbytes(size)

def mkdir(path, compressed=False):
    os.mkdir(p(path))
    if compressed:
        attr = int.from_bytes(os.getxattr(p(path), "system.ntfs_attrib_be"), "big")
        os.setxattr(p(path), "system.ntfs_attrib_be", (attr | 0x800).to_bytes(4, "big"))
    rows.append(["dir", "live", 0, "-", 0, path])

def write(path, data, state="live", mtime_ns=0):
    with open(p(path), "wb") as f:
        f.write(data)
    rows.append(["file", state, len(data), keep(data), mtime_ns, path])

mkdir("Docs")
mkdir("Docs/Sub")
mkdir("Packed", compressed=True)
mkdir("Ünïcødé 日本")
mkdir("Fragmented")
write("hello.txt", b"Hello from a resident file.\n" * 3)
write("Docs/notes.txt", text("Docs/notes.txt", 3000))
write("Docs/Sub/random.bin", rand("random", 200000))
write("Packed/log.txt", text("Packed/log.txt", 300000 + 77))
write("Packed/noise.bin", rand("noise", 70000))
write("Ünïcødé 日本/résumé.txt", text("résumé", 5000))
write("L" * 251 + ".txt", b"a name of 255 characters\n")
write("empty.txt", b"")
# a named stream beside a small file's own content
write("with_stream.txt", b"the file's own content\n")
os.setxattr(p("with_stream.txt"), "user.Zone.Identifier", b"[ZoneTransfer]\r\nZoneId=3\r\n")
# sparse: a hole, 64 KiB of data, a hole
data = bytearray(2 * 1024 * 1024)
data[1048576:1048576 + 65536] = rand("sparse", 65536)
with open(p("sparse.bin"), "wb") as f:
    f.seek(1048576)
    f.write(data[1048576:1048576 + 65536])
    f.truncate(len(data))
rows.append(["file", "live", len(data), keep(bytes(data)), 0, "sparse.bin"])
# a file in pieces: two files grown a cluster at a time in turn, then the second one removed
pieces = rand("pieces", 100 * 4096)
with open(p("Fragmented/pieces.bin"), "wb", buffering=0) as a, open(p("Fragmented/other.bin"), "wb", buffering=0) as b:
    for i in range(100):
        a.write(pieces[i * 4096:(i + 1) * 4096])
        b.write(b"\xAA" * 4096)
        os.fsync(a.fileno())
        os.fsync(b.fileno())
rows.append(["file", "live", len(pieces), keep(pieces), 0, "Fragmented/pieces.bin"])
os.remove(p("Fragmented/other.bin"))
# more named streams than one record holds: the file gets an attribute list
write("Fragmented/streams.bin", rand("streams", 300000))
for i in range(40):
    os.setxattr(p("Fragmented/streams.bin"), "user.s%02d" % i, bytes([i]) * 60)
os.sync()
write("Docs/deleted.bin", rand("deleted", 40000), state="deleted")
os.sync()
os.remove(p("Docs/deleted.bin"))
set_times("hello.txt", 1686830400_123456700)
rows[[r[5] for r in rows].index("hello.txt")][4] = 1686830400_123456700
set_times("Docs/notes.txt", 1600000000_000000000)
rows[[r[5] for r in rows].index("Docs/notes.txt")][4] = 1600000000_000000000

with open(manifest, "w", encoding="utf-8") as m:
    for r in rows:
        m.write("\t".join(str(x) for x in r) + "\n")
PY

umount "$MNT"
wait "$PID" 2>/dev/null || true
PID=
