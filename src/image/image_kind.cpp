#include "image/image_kind.h"

#include <algorithm>
#include <cctype>
#include <filesystem>
#include <optional>

#include "image/raw_reader.h"
#include "image/vdi_reader.h"
#include "image/vhd_reader.h"
#include "image/vhdx_reader.h"
#include "image/vmdk_reader.h"

namespace halvard {

std::string imageKindName(ImageKind kind) {
    switch (kind) {
        case ImageKind::Vhdx: return "VHDX";
        case ImageKind::Vhd: return "VHD";
        case ImageKind::Vdi: return "VDI";
        case ImageKind::Vmdk: return "VMDK";
        case ImageKind::Raw: return "RAW";
    }
    return "RAW";
}

ImageKind detectImageKind(const ImageFile& file) {
    const auto head = file.readVector(0, 1024);
    if (hasSignature(head, 0, "vhdxfile")) return ImageKind::Vhdx;
    if (hasSignature(head, 0, "conectix")) return ImageKind::Vhd;
    if (le32(head, 64) == 0xBEDA107F) return ImageKind::Vdi;
    if (hasSignature(head, 0, "KDMV") || hasSignature(head, 0, "# Disk DescriptorFile")) return ImageKind::Vmdk;
    if (file.size() >= 512) {
        // A fixed VHD is a flat disk with a 512-byte footer (511 bytes in images of old tools).
        const auto tail = file.readVector(file.size() - 512, 512);
        if (hasSignature(tail, 0, "conectix") || hasSignature(tail, 1, "conectix")) return ImageKind::Vhd;
    }
    return ImageKind::Raw;
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
    return std::nullopt;
}

}  // namespace

std::unique_ptr<readWriteInterface> makeReader(ImageKind kind, const ImageOverrides& overrides,
                                               MessageSink* messages) {
    std::unique_ptr<readWriteInterface> reader;
    switch (kind) {
        case ImageKind::Vhdx: {
            auto vhdx = std::make_unique<FileReadSeekVHDX>();
            vhdx->setRequireVhdxName(false);
            reader = std::move(vhdx);
            break;
        }
        case ImageKind::Vhd: {
            auto vhd = std::make_unique<FileReadSeekVHD>();
            vhd->setRequireVhdName(false);
            reader = std::move(vhd);
            break;
        }
        case ImageKind::Vdi:
            reader = std::make_unique<FileReadSeekVdi>();
            break;
        case ImageKind::Vmdk:
            reader = std::make_unique<FileReadSeekVmdk>();
            break;
        case ImageKind::Raw:
            reader = std::make_unique<FileReadSeekRaw>();
            break;
    }
    reader->setOverrides(overrides);
    reader->setMessageSink(messages);
    return reader;
}

OpenedImage openImage(const std::string& path, const ImageOverrides& overrides, MessageSink* messages) {
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
    std::unique_ptr<readWriteInterface> reader = makeReader(result.kind, overrides, messages);
    if (!reader->open(path)) {
        result.error = path + ": " + reader->lastError();
        if (!reader->lastErrorDetail().empty()) result.error += " (" + reader->lastErrorDetail() + ")";
        return result;
    }
    result.reader = std::move(reader);
    return result;
}

}  // namespace halvard
