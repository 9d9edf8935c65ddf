// LZNT1 compression units. The first byte picks the unit's output size (1 to 16 chunks of 4096 bytes).
#include <vector>

#include "fs/ntfs/lznt1.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 1) return 0;
    const std::size_t capacity = (data[0] % 16 + 1) * halvard::kLznt1ChunkSize;
    const std::vector<std::uint8_t> input(data + 1, data + size);  // exactly as long as the unit, for ASan
    std::vector<std::uint8_t> output(capacity);
    halvard::UncompressContext context;
    if (!halvard::ntfs_uncompress_setup(context, input.data(), output.data(), capacity)) return 0;
    context.inputLength = input.size();
    halvard::ntfs_uncompress_compunit(context);
    if (context.outputCount > capacity) __builtin_trap();
    return 0;
}
