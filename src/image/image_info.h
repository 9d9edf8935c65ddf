#pragma once
// What `halvard info` reports about an image.
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "image/image_kind.h"
#include "image/read_write_interface.h"

namespace halvard {

struct ImageInfo {
    bool ok = false;
    std::string error;  // one line when !ok

    ImageKind kind = ImageKind::Raw;
    std::string format;   // "VHDX", "RAW", ...
    std::string version;  // the format's version field, as text
    std::uint64_t fileSize = 0;
    std::uint64_t virtualSize = 0;
    std::uint64_t blockSize = 0;
    std::uint64_t logicalSectorSize = 0;
    std::uint64_t physicalSectorSize = 0;
    bool differencing = false;
    std::uint64_t totalBlocks = 0;
    std::uint64_t allocatedBlocks = 0;
    std::vector<std::string> warnings;  // damage found while reading (e.g. blocks past the end of the file)
    std::vector<std::string> notes;     // fallbacks taken

    // VHDX: the log, the parents read through (nearest first), the payload blocks by state (states that occur).
    struct Log {
        bool present = false;   // the current header names a log
        bool replayed = false;  // its pending entries were laid over the image in memory
        std::uint64_t entries = 0;
    } log;
    std::vector<std::string> parents;  // also qcow2's backing files
    std::vector<std::string> parentFormats;  // the format of each parent, in the same order
    // A differencing image described without its parent, which was not found (a damage of the chain).
    std::optional<MissingParent> missingParent;
    // qcow2: the internal snapshots.
    struct Snapshot {
        std::string id;
        std::string name;
        std::uint64_t diskSize = 0;
    };
    std::vector<Snapshot> snapshots;
    std::vector<std::pair<std::string, std::uint64_t>> blocksByState;

    // What the integrity check found: empty when the image is sound.
    std::vector<std::string> damage;
};

// With `overrides.openWithoutParent` a differencing image whose parent is not found is described from its own
// headers, the missing parent counted as damage; otherwise it is refused as reading it would be.
ImageInfo describeImage(const std::string& path, const ImageOverrides& overrides = {});

// A VHDX's geometry as its headers and metadata state it, read as the image page reads them (the older rule for
// a region table that names no regions by GUID): nothing is opened through, so a missing parent or a damaged
// block table does not keep the page from showing it. Fills format, version (also on failure), the sizes and
// whether the disk has a parent.
ImageInfo describeVhdxHeaders(const ImageFile& file);

}  // namespace halvard
