#!/usr/bin/env python3
"""Builds the carving benchmark's volume: about 1,300 distinct JPEG, PNG, PDF and ZIP files planted whole and
contiguous from sector starts, one in each stretch of the volume, over MiBs that are half random bytes, half zeros.

    make_carve_volume.py VOLUME MANIFEST [SIZE_MIB]     (default 2048)

JPEGs are made by cjpeg (a quarter carry the Exif thumbnail exiftool wrote into one of them); PDFs are rewritten by
qpdf, most then given one to three incremental updates (several %%EOF), some holding a JPEG; ZIPs hold text,
random data, stored pictures and sometimes a stored ZIP and an archive comment. MANIFEST: one line per file,
"offset length sha256 extension". Deterministic layout; needs cjpeg, exiftool and qpdf."""
import hashlib
import io
import os
import random
import struct
import subprocess
import sys
import tempfile
import zipfile
import zlib

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "tests", "fixtures"))
from pdf_writer import append_update, pdf_file  # noqa: E402

volume_path, manifest_path = sys.argv[1], sys.argv[2]
size_mib = int(sys.argv[3]) if len(sys.argv) > 3 else 2048
MIB = 1 << 20
rng = random.Random(1323)
COUNTS = {"jpg": 592, "png": 278, "pdf": 194, "zip": 259}
scale = size_mib / 2048
work = tempfile.mkdtemp(prefix="halvard-carve-bench.")


def run(args, data=None):
    return subprocess.run(args, input=data, stdout=subprocess.PIPE, stderr=subprocess.DEVNULL, check=True).stdout


RAMP = bytes(i % 256 for i in range(3 * 4096))
LOW_BITS = bytes(b & 0x1F for b in range(256))


def picture(width, height):
    """Gradients with noise in the low bits: compresses like a photograph."""
    seed = rng.randrange(256)
    noise = [rng.randbytes(width * 3).translate(LOW_BITS) for _ in range(8)]
    rows = []
    for y in range(height):
        start = (seed + y) % 256
        base = RAMP[start:start + width * 3]
        mixed = int.from_bytes(base, "big") ^ int.from_bytes(noise[y % 8], "big")
        rows.append(mixed.to_bytes(width * 3, "big"))
    return rows


def jpeg(width, height, quality):
    ppm = b"P6\n%d %d\n255\n" % (width, height) + b"".join(picture(width, height))
    return run(["cjpeg", "-quality", str(quality)], ppm)


def app1_with_thumbnail():
    """The Exif APP1 segment exiftool writes, thumbnail included."""
    path = os.path.join(work, "exif.jpg")
    thumb = os.path.join(work, "thumb.jpg")
    open(path, "wb").write(jpeg(320, 240, 80))
    open(thumb, "wb").write(jpeg(160, 120, 70))
    run(["exiftool", "-q", "-overwrite_original", "-Make=Bench", "-ThumbnailImage<=" + thumb, path])
    data = open(path, "rb").read()
    at = 2
    while data[at + 1] != 0xE1:
        at += 2 + struct.unpack(">H", data[at + 2:at + 4])[0]
    return data[at:at + 2 + struct.unpack(">H", data[at + 2:at + 4])[0]]


EXIF = app1_with_thumbnail()


def make_jpeg(i):
    width, height = rng.randrange(120, 900), rng.randrange(90, 700)
    data = jpeg(width, height, rng.choice((70, 80, 90)))
    if i % 4 == 0:
        data = data[:2] + EXIF + data[2:]
    return data


def png_chunk(kind, data):
    return struct.pack(">I", len(data)) + kind + data + struct.pack(">I", zlib.crc32(kind + data) & 0xFFFFFFFF)


def make_png(_):
    width, height = rng.randrange(64, 600), rng.randrange(64, 500)
    raw = b"".join(b"\x00" + row for row in picture(width, height))
    chunks = [png_chunk(b"IHDR", struct.pack(">IIBBBBB", width, height, 8, 2, 0, 0, 0))]
    if rng.randrange(2):
        chunks.append(png_chunk(b"tEXt", b"Comment\x00bench picture %d" % rng.randrange(10 ** 6)))
    compressed = zlib.compress(raw, 6)
    for at in range(0, len(compressed), 65536):
        chunks.append(png_chunk(b"IDAT", compressed[at:at + 65536]))
    return b"\x89PNG\r\n\x1a\n" + b"".join(chunks) + png_chunk(b"IEND", b"")


def make_pdf(i):
    pages = rng.randrange(1, 12)
    objects = [b"<< /Type /Catalog /Pages 2 0 R >>", None]
    kids = []
    image = jpeg(200, 150, 75) if i % 3 == 0 else None
    for p in range(pages):
        text = b"BT /F1 11 Tf 72 720 Td (" + (b"Bench page %d of document %d. " % (p, i)) * rng.randrange(5, 60) + b") Tj ET"
        if image and p == 0:
            text = b"q 200 0 0 150 72 500 cm /Im1 Do Q " + text
        kids.append(len(objects) + 1)
        objects.append(b"<< /Type /Page /Parent 2 0 R /MediaBox [0 0 612 792] /Contents %d 0 R /Resources "
                       b"<< /Font << /F1 %%FONT%% 0 R >> %%XOBJ%% >> >>" % (len(objects) + 2))
        objects.append(b"<< /Length %d >>\nstream\n" % len(text) + text + b"\nendstream")
    font = len(objects) + 1
    objects.append(b"<< /Type /Font /Subtype /Type1 /BaseFont /Helvetica >>")
    xobj = b""
    if image:
        objects.append(b"<< /Type /XObject /Subtype /Image /Width 200 /Height 150 /ColorSpace /DeviceRGB "
                       b"/BitsPerComponent 8 /Filter /DCTDecode /Length %d >>\nstream\n" % len(image) + image
                       + b"\nendstream")
        xobj = b"/XObject << /Im1 %d 0 R >>" % len(objects)
    objects[1] = b"<< /Type /Pages /Kids [%s] /Count %d >>" % (b" ".join(b"%d 0 R" % k for k in kids), pages)
    objects = [o.replace(b"%FONT%", b"%d" % font).replace(b"%XOBJ%", xobj) for o in objects]
    path = os.path.join(work, "in.pdf")
    open(path, "wb").write(pdf_file(objects))
    data = run(["qpdf", "--object-streams=disable", path, "-"])
    for update in range(rng.choice((0, 1, 1, 2, 3))):
        data = append_update(data, b"Revision %d" % (update + 2))
    return data


def make_zip(i):
    buffer = io.BytesIO()
    with zipfile.ZipFile(buffer, "w") as z:
        for m in range(rng.randrange(1, 6)):
            kind = rng.randrange(4)
            info = zipfile.ZipInfo("member%d_%d.%s" % (i, m, ("txt", "bin", "png", "zip")[kind]), (2026, 12, 9, 10, 0, 0))
            if kind == 0:
                data = "".join("line %d of member %d\n" % (n, m) for n in range(rng.randrange(100, 20000))).encode()
                z.writestr(info, data, zipfile.ZIP_DEFLATED)
            elif kind == 1:
                z.writestr(info, rng.randbytes(rng.randrange(1000, 200000)), zipfile.ZIP_DEFLATED)
            elif kind == 2:
                z.writestr(info, make_png(0), zipfile.ZIP_STORED)
            else:
                inner = io.BytesIO()
                with zipfile.ZipFile(inner, "w") as nested:
                    nested.writestr("inner.txt", "nested archive %d\n" % i * 200)
                z.writestr(info, inner.getvalue(), zipfile.ZIP_STORED)
        if i % 5 == 0:
            z.comment = b"bench archive %d" % i
    return buffer.getvalue()


makers = {"jpg": make_jpeg, "png": make_png, "pdf": make_pdf, "zip": make_zip}
kinds = [k for k, n in COUNTS.items() for _ in range(max(1, round(n * scale)))]
rng.shuffle(kinds)
size = size_mib * MIB
stretch = size // len(kinds) // 512 * 512
with open(volume_path, "wb") as out, open(manifest_path, "w") as manifest:
    out.truncate(size)
    for m in range(size_mib):
        if rng.random() < 0.5:
            out.seek(m * MIB)
            out.write(rng.randbytes(MIB))
    for n, kind in enumerate(kinds):
        data = makers[kind](n)
        assert len(data) + 1024 < stretch, f"{kind} of {len(data)} bytes does not fit its stretch"
        offset = n * stretch + rng.randrange(0, stretch - len(data) - 512) // 512 * 512
        out.seek(offset)
        out.write(data)
        manifest.write(f"{offset} {len(data)} {hashlib.sha256(data).hexdigest()} {kind}\n")
print(f"planted {len(kinds)} files", file=sys.stderr)
