#include "fs/block_file.h"

#include <algorithm>
#include <limits>

namespace halvard {

ContentLayout blockFileLayout(const BlockFile& file, bool& damaged) {
    ContentLayout layout;
    const std::uint64_t bs = file.blockSize;
    if (bs == 0) return layout;
    // No volume reaches 2^62 bytes; a larger block count is damage and must not wrap the offsets below.
    const std::uint64_t volumeBlocks = std::min<std::uint64_t>(file.volumeBlocks, (1ULL << 62) / bs);
    // Holes are zeros; a damaged map can claim a file far larger than the volume, so no more zeros are made up
    // than the volume holds.
    std::uint64_t zeroBudget = std::max<std::uint64_t>(volumeBlocks, 1) * bs;
    auto addZeros = [&](std::uint64_t n) {
        if (n > zeroBudget) {
            damaged = true;
            return false;
        }
        zeroBudget -= n;
        layout.zeros(n);
        return true;
    };
    std::uint64_t pos = 0;
    for (const BlockRun& run : file.runs) {
        if (pos >= file.size) break;
        if (run.count == 0 || run.logical > std::numeric_limits<std::uint64_t>::max() / bs) continue;
        // Skip the part of a run that overlaps what earlier runs gave (a damaged map).
        std::uint64_t first = 0;
        if (run.logical * bs < pos) first = (pos - run.logical * bs + bs - 1) / bs;
        if (first >= run.count) continue;
        if (run.logical + first > std::numeric_limits<std::uint64_t>::max() / bs) continue;
        const std::uint64_t start = (run.logical + first) * bs;
        if (start >= file.size) break;
        if (start > pos && !addZeros(start - pos)) return layout;
        pos = start;
        const std::uint64_t blocks = run.count - first;
        const std::uint64_t n = blocks > (file.size - pos) / bs ? file.size - pos : blocks * bs;
        if (run.unwritten) {
            layout.zeros(n);
        } else {
            // The blocks inside the volume are read; the rest are zeros and damage.
            const bool startsInside = run.physical < volumeBlocks && first < volumeBlocks - run.physical;
            const std::uint64_t physical = run.physical + first;
            const std::uint64_t insideBlocks = startsInside ? volumeBlocks - physical : 0;
            const std::uint64_t inside = insideBlocks > n / bs ? n : insideBlocks * bs;
            if (inside > 0) layout.stored(inside, file.firstBlockOffset + physical * bs);
            if (inside < n) {
                layout.missing(n - inside);
                damaged = true;
            }
        }
        pos += n;
    }
    if (pos < file.size) addZeros(file.size - pos);
    return layout;
}

std::unique_ptr<FileContent> blockFileContent(const VolumeReader& reader, const BlockFile& file, ContentFacts facts) {
    ContentLayout layout = blockFileLayout(file, facts.damaged);
    return layoutContent([&reader](std::uint64_t offset, void* buffer, std::size_t length) {
        return reader.read(offset, buffer, length);
    }, std::move(layout), std::move(facts));
}

}  // namespace halvard
