// Partition tables (MBR and its EBR chain, GPT) and the advanced scan for boot sectors and volume headers. The
// first byte picks the GPT walk (bit 0) and whether the scan jumps over each volume it finds (bit 1).
#include <algorithm>

#include "sparse_image.h"
#include "volume/partition.h"

using namespace halvard;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 1) return 0;
    const fuzzing::SparseImage image(data + 1, size - 1, 64ULL << 20);
    const auto disk = std::make_shared<fuzzing::SparseDisk>(image);
    std::vector<VolumeRecord> records;
    Partition standard(records);
    standard.gptFlag = data[0] & 1;
    standard.standardScan(disk);
    Partition advanced(records);
    advanced.volumeSizeFlag = data[0] & 2;
    advanced.endSector = static_cast<std::int64_t>(std::min<std::uint64_t>(disk->totalSectors, 16384));
    advanced.advancedScan(disk, disk->totalSectors);
    for (const VolumeRecord& record : records) volumeSizeBytes(record);
    return 0;
}
