#include "image/image_kind.h"

#include <algorithm>
#include <cctype>
#include <filesystem>
#include <optional>
#include <string_view>

#include "image/qcow2_reader.h"
#include "image/raw_reader.h"
#include "image/vdi_reader.h"
#include "image/vhd_reader.h"
#include "image/vhdx_format.h"
#include "image/vhdx_reader.h"
#include "image/vmdk_reader.h"

namespace halvard {

std::string imageKindName(ImageKind kind) {
    switch (kind) {
        case ImageKind::Vhdx: return "VHDX";
        case ImageKind::Vhd: return "VHD";
        case ImageKind::Vdi: return "VDI";
        case ImageKind::Vmdk: return "VMDK";
        case ImageKind::Qcow2: return "QCOW2";
        case ImageKind::Raw: return "RAW";
    }
    return "RAW";
}

namespace {

// A VHDX whose first bytes were overwritten: a header ("head") and a region table ("regi") in their places, each
// passing its CRC-32C. A flat disk does not carry both by chance.
bool hasVhdxStructures(const ImageFile& file) {
    if (file.size() < vhdx::kRegionTable2Offset) return false;
    const auto headerOk = [&file](std::uint64_t at) {
        const vhdx::Header h = vhdx::parseHeader(file.readVector(at, 4096));
        return h.signatureOk && h.checksumOk;
    };
    const auto regionsOk = [&file](std::uint64_t at) {
        const vhdx::RegionTable t = vhdx::parseRegionTable(file.readVector(at, vhdx::kRegionTableSize));
        return t.signatureOk && t.checksumOk;
    };
    return (headerOk(vhdx::kHeader1Offset) || headerOk(vhdx::kHeader2Offset)) &&
           (regionsOk(vhdx::kRegionTable1Offset) || regionsOk(vhdx::kRegionTable2Offset));
}

// A qcow2 header whose magic was hit: every other field in its range and consistent with the rest and with the
// file (tables cluster-aligned inside it, an L1 table large enough for the disk). A flat disk's first sector
// (boot code, a partition table, zeros) does not meet all of them.
bool hasQcow2Header(const ImageFile& file, Bytes head) {
    if (head.size() < 104) return false;
    const std::uint32_t version = be32(head, 4);
    const std::uint32_t clusterBits = be32(head, 20);
    if ((version != 2 && version != 3) || clusterBits < qcow2::kMinClusterBits || clusterBits > qcow2::kMaxClusterBits)
        return false;
    const std::uint64_t cluster = 1ULL << clusterBits;
    const std::uint64_t size = be64(head, 24);
    const std::uint32_t crypt = be32(head, 32);
    const std::uint32_t l1Size = be32(head, 36);
    const std::uint64_t l1Offset = be64(head, 40);
    const std::uint64_t refcountOffset = be64(head, 48);
    const std::uint32_t refcountClusters = be32(head, 56);
    const std::uint32_t snapshots = be32(head, 60);
    const std::uint64_t snapshotsOffset = be64(head, 64);
    const std::uint64_t fileSize = file.size();
    const auto placed = [&](std::uint64_t offset) { return offset >= cluster && offset % cluster == 0 && offset < fileSize; };
    if (size == 0 || size > qcow2::kMaxVirtualSize || crypt > 2 || !placed(l1Offset) || !placed(refcountOffset) ||
        refcountClusters == 0 || refcountClusters > (1U << 20) || (snapshots != 0 && !placed(snapshotsOffset)))
        return false;
    // Each L1 entry covers at most one L2 table of cluster/8 entries, a cluster each.
    const std::uint64_t perL1 = cluster * (cluster / 8);
    if (static_cast<std::uint64_t>(l1Size) < (size + perL1 - 1) / perL1 || l1Size > (1U << 25)) return false;
    if (version == 3) {
        const std::uint32_t refcountOrder = be32(head, 96);
        const std::uint32_t headerLength = be32(head, 100);
        if (refcountOrder > 6 || headerLength < 104 || headerLength % 8 != 0 || headerLength >= cluster) return false;
    }
    return true;
}

}  // namespace

ImageKind detectImageKind(const ImageFile& file) {
    const auto head = file.readVector(0, 1024);
    if (hasSignature(head, 0, "vhdxfile")) return ImageKind::Vhdx;
    if (hasSignature(head, 0, "conectix")) return ImageKind::Vhd;
    if (le32(head, 64) == 0xBEDA107F) return ImageKind::Vdi;
    if (hasSignature(head, 0, "KDMV") || hasSignature(head, 0, "# Disk DescriptorFile")) return ImageKind::Vmdk;
    if (be32(head, 0) == qcow2::kMagic) return ImageKind::Qcow2;
    if (file.size() >= 512) {
        // A fixed VHD is a flat disk with a 512-byte footer (511 bytes in images of old tools).
        const auto tail = file.readVector(file.size() - 512, 512);
        if (hasSignature(tail, 0, "conectix") || hasSignature(tail, 1, "conectix")) return ImageKind::Vhd;
    }
    // Signatures hit by damage: where the rest of a format's structures stand, the file is that format, never a
    // flat disk of its own bytes.
    if (hasVhdxStructures(file)) return ImageKind::Vhdx;
    if (hasQcow2Header(file, head)) return ImageKind::Qcow2;
    return ImageKind::Raw;
}

std::string foreignFormatName(const ImageFile& file) {
    struct Signature {
        std::uint64_t offset;
        std::string_view bytes;
        const char* name;
    };
    // Signatures long enough that a disk's first sector does not carry them by chance.
    static constexpr Signature kSignatures[] = {
        {0, std::string_view("QED\0", 4), "QED"},
        {0, "WithoutFreeSpace", "Parallels"},
        {0, "WithouFreSpacExt", "Parallels"},
        {0, "Bochs Virtual HD Image", "Bochs"},
        {0, "#!/bin/sh\n#V2.0 Format", "cloop"},
        {0, std::string_view("EVF\x09\x0d\x0a\xff\x00", 8), "EWF (E01)"},
        {0, "LUKS\xba\xbe", "LUKS"},
        {0, "\x1f\x8b\x08", "gzip"},
        {0, std::string_view("\xfd" "7zXZ\0", 6), "xz"},
        {0, "\x28\xb5\x2f\xfd", "zstd"},
        {0, "BZh", "bzip2"},
        {0, "7z\xbc\xaf\x27\x1c", "7z"},
        {0, "PK\x03\x04", "zip"},
    };
    const auto head = file.readVector(0, 64);
    const std::string_view text(reinterpret_cast<const char*>(head.data()), head.size());
    for (const Signature& s : kSignatures)
        if (text.size() >= s.offset + s.bytes.size() && text.substr(s.offset, s.bytes.size()) == s.bytes) {
            // "BZh" needs its block-size digit, so that text files starting with it stay raw.
            if (std::string_view(s.name) == "bzip2" && (text.size() < 4 || text[3] < '1' || text[3] > '9')) continue;
            return s.name;
        }
    if (file.size() >= 512) {
        const auto tail = file.readVector(file.size() - 512, 4);
        if (hasSignature(tail, 0, "koly")) return "Apple disk image (DMG)";
    }
    return {};
}

namespace {

// The format a file's extension claims, if it names a virtual-disk format.
std::optional<ImageKind> kindByExtension(const std::string& path) {
    std::string ext = std::filesystem::path(path).extension().string();
    std::transform(ext.begin(), ext.end(), ext.begin(), [](unsigned char c) { return std::tolower(c); });
    if (ext == ".vhdx" || ext == ".avhdx") return ImageKind::Vhdx;
    if (ext == ".vhd" || ext == ".avhd") return ImageKind::Vhd;
    if (ext == ".vdi") return ImageKind::Vdi;
    if (ext == ".vmdk") return ImageKind::Vmdk;
    if (ext == ".qcow2" || ext == ".qcow") return ImageKind::Qcow2;
    return std::nullopt;
}

}  // namespace

bool nameMayEndWith(const std::string& path, const std::string& extension) {
    if (path.size() <= 3) return true;
    std::string tail = path.substr(path.size() - std::min(path.size(), extension.size()));
    std::transform(tail.begin(), tail.end(), tail.begin(), [](unsigned char c) { return std::tolower(c); });
    return tail == extension;
}

namespace {

// A VHD or VHDX reader without the pages' name rule: the format was told by its signature.
template <typename Reader>
std::unique_ptr<DiskReader> anyNameReader() {
    auto reader = std::make_unique<Reader>();
    reader->setRequireName(false);
    return reader;
}

std::unique_ptr<DiskReader> newReader(ImageKind kind) {
    switch (kind) {
        case ImageKind::Vhdx: return anyNameReader<VhdxReader>();
        case ImageKind::Vhd: return anyNameReader<VhdReader>();
        case ImageKind::Vdi: return std::make_unique<VdiReader>();
        case ImageKind::Vmdk: return std::make_unique<VmdkReader>();
        case ImageKind::Qcow2: return std::make_unique<Qcow2Reader>();
        case ImageKind::Raw: break;
    }
    return std::make_unique<RawReader>();
}

}  // namespace

std::unique_ptr<DiskReader> makeReader(ImageKind kind, const ImageOverrides& overrides, MessageSink* messages) {
    std::unique_ptr<DiskReader> reader = newReader(kind);
    reader->setOverrides(overrides);
    reader->setMessageSink(messages);
    return reader;
}

OpenedImage openImage(const std::string& path, const ImageOverrides& overrides, MessageSink* messages,
                      const std::vector<std::string>& chainBelow) {
    OpenedImage result;
    ImageFile probe;
    if (!probe.open(path)) {
        result.error = path + ": cannot open: " + probe.error();
        return result;
    }
    result.kind = detectImageKind(probe);
    if (const auto claimed = kindByExtension(path); claimed && result.kind == ImageKind::Raw) {
        // A damaged header must not turn a virtual-disk file silently into a "flat disk" of its own bytes.
        result.error = path + ": not a " + imageKindName(*claimed) + " image (its signature is missing or damaged)";
        return result;
    }
    if (!overrides.snapshot.empty() && result.kind != ImageKind::Qcow2) {
        result.error = path + ": --snapshot reads internal snapshots of qcow2 images; this is a " +
                       imageKindName(result.kind) + " image";
        return result;
    }
    if (result.kind == ImageKind::Raw) {
        if (const std::string foreign = foreignFormatName(probe); !foreign.empty()) {
            result.error = path + ": the file has the signature of " + foreign +
                           ", a format this program does not read; it is not taken for a raw disk";
            return result;
        }
    }
    std::unique_ptr<DiskReader> reader = makeReader(result.kind, overrides, messages);
    reader->setChainBelow(chainBelow);
    if (const Status opened = reader->open(path); !opened) {
        result.error = path + ": " + opened.message();
        if (result.kind == ImageKind::Qcow2 && be32(probe.readVector(0, 4), 0) != qcow2::kMagic)
            result.error = path + ": a damaged qcow2 image: its magic (\"QFI\\xfb\") is hit, but the rest of its "
                                  "header holds together; it is not read as a flat disk";
        if (!reader->failureDetail().empty()) result.error += " (" + reader->failureDetail() + ")";
        return result;
    }
    result.reader = std::move(reader);
    return result;
}

}  // namespace halvard
