#pragma once
// Which reader an image needs, told by its signature (never by its name), and the one place that creates readers.
#include <memory>
#include <string>
#include <vector>

#include "image/read_write_interface.h"

namespace halvard {

enum class ImageKind { Vhdx, Vhd, Vdi, Vmdk, Qcow2, Raw };

std::string imageKindName(ImageKind kind);

// Looks at the signatures of an open file: "vhdxfile" at 0, "conectix" at 0 or in the last sector, the VDI
// signature at 64, "KDMV" or a VMDK descriptor at 0, "QFI\xfb" at 0. Where a signature is hit but the format's
// other structures stand (a VHDX's headers and region tables passing their checksums, a qcow2 header whose fields
// hold together), the file is that format; anything else is a flat raw image.
ImageKind detectImageKind(const ImageFile& file);

// The name of a format this program does not read ("QED", "gzip", ...) when the file carries its signature:
// such a file must never be read as a flat raw disk of its own bytes. Empty for anything else.
std::string foreignFormatName(const ImageFile& file);

// Whether the file name ends in `extension` (in any case), as the pages ask of VHD and VHDX names. A name too short
// to carry one passes: the open decides.
bool nameMayEndWith(const std::string& path, const std::string& extension);

struct OpenedImage {
    std::unique_ptr<DiskReader> reader;  // null on failure
    ImageKind kind = ImageKind::Raw;
    std::string error;  // one line, when reader is null
};

// A new, unopened reader of that kind (the VHDX and VHD readers without their name rules), carrying the overrides
// and reporting through `messages`.
std::unique_ptr<DiskReader> makeReader(ImageKind kind, const ImageOverrides& overrides = {},
                                               MessageSink* messages = nullptr);

// Opens `path` with the reader its signature calls for; `chainBelow` as for a parent (see parent_image.h).
OpenedImage openImage(const std::string& path, const ImageOverrides& overrides = {}, MessageSink* messages = nullptr,
                      const std::vector<std::string>& chainBelow = {});

}  // namespace halvard
