#pragma once
// The advanced road as the advanced options page shows it: what the structure finders found, in the texts of the
// page's three lists, and the user's picks from them, checked before the browser's advanced parse starts.
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace halvard {

struct FatFindings;
enum class FatKind;

struct AdvancedFindings {
    std::string foundLabel = "TFS :";           // label of the found-position list
    std::vector<std::string> found;             // "MFT_ENTRY:0", "FAT32_ENTRY:0", ...
    std::vector<std::uint64_t> foundOffsets;    // byte offsets from the volume's start, one per item
    std::vector<std::string> clusterSizes;      // sectors per cluster; exFAT: the power of two of that number
    bool clusterSizeIsShift = false;            // exFAT
    bool heapList = false;                      // exFAT lists the cluster heap's possible offsets too
    std::vector<std::string> heaps;             // "HEAP_OFFSET_ENTRY:0", ...
    std::vector<std::uint64_t> heapOffsets;
    std::string message;                        // shown when the finders end
    std::string doneStatus = "Parsing done.Click Next to continue.";
};

// Indexes into the lists, as the user picked them.
struct AdvancedSelection {
    std::optional<std::size_t> found;
    std::string clusterSize;  // the chosen cluster-size item's text
    std::optional<std::size_t> heap;
};

inline constexpr const char* kNoEntryFound = "No File system Entry Found.Process cannot be continue...";

// The lists of the NTFS finder, which found `candidates` $MFT records at these offsets.
AdvancedFindings ntfsFindings(const std::vector<std::uint64_t>& candidateOffsets);
// The lists of a FAT-family finder.
AdvancedFindings fatFindings(FatKind kind, const FatFindings& found);

// A cluster-size item read as a number: sectors per cluster, a power of two up to `maxSectors` (exFAT: the power
// itself, up to 16). Nullopt, with `error` set, when the text is none of these.
std::optional<std::uint32_t> clusterChoice(const std::string& text, bool isShift, std::uint32_t maxSectors,
                                           std::string& error);

}  // namespace halvard
