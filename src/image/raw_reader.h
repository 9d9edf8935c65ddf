#pragma once
#include "image/read_write_interface.h"

namespace halvard {

// A flat image: the file is the disk, byte for byte. The block map has one entry per MiB of the file. A file
// that ends inside a sector makes that sector the disk's last: its bytes are the file's, then zeros, and the
// disk is exactly as long as the file.
class RawReader final : public DiskReader {
public:
    Status open(const std::string& path) override;
    bool readAt(std::uint64_t offset, void* buffer, std::size_t length) const override;
    const char* formatName() const override { return "raw image"; }
    std::uint64_t diskBytes() const override { return imageFileSize; }

protected:
    SectorMapping mapSector(std::uint64_t sector) const override;
};

}  // namespace halvard
