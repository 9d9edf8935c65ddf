#include "browser/advanced_findings.h"

#include <algorithm>
#include <bit>
#include <charconv>

#include "fs/fat/fat_family.h"

namespace halvard {

namespace {

std::vector<std::string> numbered(const char* prefix, std::size_t count) {
    std::vector<std::string> items;
    for (std::size_t i = 0; i < count; ++i) items.push_back(prefix + std::to_string(i));
    return items;
}

// The boot sector's value first (when it has a usable one), then the usual ones, each once.
std::vector<std::string> clusterList(std::optional<std::uint32_t> bootValue, std::initializer_list<const char*> usual) {
    std::vector<std::string> items;
    if (bootValue) items.push_back(std::to_string(*bootValue));
    for (const char* item : usual)
        if (std::find(items.begin(), items.end(), item) == items.end()) items.emplace_back(item);
    return items;
}

}  // namespace

AdvancedFindings ntfsFindings(const std::vector<std::uint64_t>& candidateOffsets) {
    AdvancedFindings f;
    f.found = numbered("MFT_ENTRY:", candidateOffsets.size());
    f.foundOffsets = candidateOffsets;
    // One sector and 128 sectors are cluster sizes NTFS volumes have too.
    f.clusterSizes = clusterList(std::nullopt, {"8", "4", "2", "16", "32", "64", "1", "128"});
    f.message = "Number of MFT-ENTRY found = " + std::to_string(candidateOffsets.size()) +
                " . Please select the choice from combo box and click Parse button to proceed.";
    f.doneStatus = "Parsing done.Click next to continue.";
    return f;
}

AdvancedFindings fatFindings(FatKind kind, const FatFindings& found) {
    AdvancedFindings f;
    f.foundOffsets = found.fats;
    const std::string count = std::to_string(found.fats.size());
    const std::string pick = " . Please select the choice from combo box and click Parse button to proceed.";
    std::optional<std::uint32_t> boot;
    switch (kind) {
        case FatKind::Fat16:
            // Any power of two is a cluster size a volume can have, one sector included.
            if (found.bootValid && std::has_single_bit(found.bootClusterValue) && found.bootClusterValue <= 128)
                boot = found.bootClusterValue;
            f.foundLabel = "Total fat16 Entries Found:";
            f.found = numbered("FAT_ENTRY:", found.fats.size());
            f.clusterSizes = clusterList(boot, {"4", "8", "16", "2", "32", "64", "128", "1"});
            f.message = "Number of FAT-ENTRY found = " + count + pick;
            break;
        case FatKind::Fat32:
            if (found.bootValid && std::has_single_bit(found.bootClusterValue) && found.bootClusterValue <= 128)
                boot = found.bootClusterValue;
            f.found = numbered("FAT32_ENTRY:", found.fats.size());
            f.clusterSizes = clusterList(boot, {"2", "4", "16", "32", "64", "8", "1", "128"});
            f.message = found.fats.empty() ? "NO FAT  FAT32-ENTRY found .." : "Number of FAT32-ENTRY found = " + count + pick;
            break;
        case FatKind::ExFat:
            if (found.bootValid && found.bootClusterValue <= 16) boot = found.bootClusterValue;
            f.found = numbered("FAT64_ENTRY:", found.fats.size());
            f.heapList = true;
            f.heaps = numbered("HEAP_OFFSET_ENTRY:", found.heaps.size());
            f.heapOffsets = found.heaps;
            f.clusterSizeIsShift = true;
            // Small volumes have clusters of 4 KiB (3) and 32 KiB (6): every power an exFAT cluster can have is
            // offered after the usual large ones.
            f.clusterSizes = clusterList(boot, {"8", "9", "10", "11", "0", "1", "2", "3", "4", "5", "6", "7", "12",
                                                "13", "14", "15", "16"});
            f.message = "Number of FAT64-ENTRY found = " + count + " and Number of HeapOffset-ENTRY found =  " +
                        std::to_string(found.heaps.size()) +
                        "  . Please select the choice from ( Entry and Heap ) Combobox and click Parse button to "
                        "proceed.";
            break;
    }
    return f;
}

std::optional<std::uint32_t> clusterChoice(const std::string& text, bool isShift, std::uint32_t maxSectors,
                                           std::string& error) {
    std::uint32_t value = 0;
    const char* end = text.data() + text.size();
    const auto [stop, ec] = std::from_chars(text.data(), end, value);
    const bool number = !text.empty() && ec == std::errc() && stop == end;
    const bool usable = number && (isShift ? value <= 16 : std::has_single_bit(value) && value <= maxSectors);
    if (usable) return value;
    error = "\"" + text + "\" is not a usable cluster size: choose " +
            (isShift ? std::string("a power of two from 0 to 16") :
                       "a number of sectors per cluster, a power of two from 1 to " + std::to_string(maxSectors)) +
            ".";
    return std::nullopt;
}

}  // namespace halvard
