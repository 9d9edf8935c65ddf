#pragma once
#include "image/read_write_interface.h"

namespace halvard {

// A flat image: the file is the disk, byte for byte. The block map has one entry per MiB of the file.
class RawReader final : public DiskReader {
public:
    Status open(const std::string& path) override;

protected:
    SectorMapping mapSector(std::uint64_t sector) const override;
};

}  // namespace halvard
