#include "volume/volume_choices.h"

#include <algorithm>
#include <cctype>
#include <charconv>
#include <limits>

namespace halvard {

namespace {

std::string upper(std::string_view text) {
    std::string out(text);
    std::transform(out.begin(), out.end(), out.begin(), [](unsigned char c) { return std::toupper(c); });
    return out;
}

std::optional<std::int64_t> parseNumber(std::string_view text) {
    std::int64_t value = 0;
    const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (ec != std::errc() || end != text.data() + text.size() || value < 0) return std::nullopt;
    return value;
}

}  // namespace

const std::vector<std::string>& treatAsChoices() {
    static const std::vector<std::string> choices{"EXTX", "FAT16", "FAT32", "FAT64", "HFS+", "NTFS", "RAW"};
    return choices;
}

std::optional<std::string> treatAsFileSystem(std::string_view choice) {
    const std::string key = upper(choice);
    if (key == "NTFS") return "ntfs";
    if (key == "FAT16") return "fat16";
    if (key == "FAT32") return "fat32";
    if (key == "FAT64" || key == "EXFAT") return "fat64";
    if (key == "EXTX") return "extX";
    if (key == "HFS+") return "HFS+";
    if (key == "RAW") return "RAW";
    return std::nullopt;
}

std::optional<std::string> choiceForFileSystem(std::string_view fileSystem) {
    if (fileSystem.empty()) return std::nullopt;
    const std::string key = upper(fileSystem);
    for (const std::string& choice : treatAsChoices())
        if (choice.compare(0, key.size(), key) == 0) return choice;
    return std::nullopt;
}

std::int64_t endSectorOf(const VolumeRecord& record) {
    const std::uint64_t sectors = volumeSectors(record);
    if (sectors == 0) return 0;
    const auto last = static_cast<std::int64_t>(sectors) - 1;
    if (record.startSector > std::numeric_limits<std::int64_t>::max() - last) return std::numeric_limits<std::int64_t>::max();
    return record.startSector + last;
}

void applyCustomSettings(VolumeRecord& record, std::int64_t start, std::int64_t end,
                         const std::optional<std::string>& treatAs) {
    record.startSector = start;
    record.sectorCount = end > start ? static_cast<std::uint64_t>(end - start) + 1 : 0;
    record.sizeText = std::to_string(wholeMiB(record.sectorCount));
    if (treatAs)
        if (auto fileSystem = treatAsFileSystem(*treatAs)) record.fileSystem = *fileSystem;
}

VolumeRecord customVolumeEntry(std::size_t recordCount) {
    VolumeRecord record;
    record.fileSystem = "CUSTOM ";
    record.volumeName = std::to_string(recordCount);
    record.sizeText = "0";
    record.startSector = 0;
    record.sectorCount = 0;
    return record;
}

std::vector<std::size_t> filterEntries(const std::vector<VolumeRecord>& records) {
    std::vector<std::size_t> kept;
    for (std::size_t i = 1; i < records.size(); ++i)
        if (records[i].startSector == records[i - 1].startSector + 1) kept.insert(kept.begin(), i);
    return kept;
}

bool isUnknownVolume(const VolumeRecord& record) { return upper(record.fileSystem) == "UNKNOWN"; }

std::optional<VolumeRecord> parseCustomVolume(std::string_view text, std::string& error) {
    constexpr std::string_view prefix = "custom:";
    if (text.substr(0, prefix.size()) != prefix) {
        error = "a hand-made volume is written custom:FS:START:SIZE_MB";
        return std::nullopt;
    }
    std::vector<std::string_view> parts;
    std::string_view rest = text.substr(prefix.size());
    while (true) {
        const std::size_t colon = rest.find(':');
        parts.push_back(rest.substr(0, colon));
        if (colon == std::string_view::npos) break;
        rest = rest.substr(colon + 1);
    }
    if (parts.size() != 3) {
        error = "a hand-made volume is written custom:FS:START:SIZE_MB";
        return std::nullopt;
    }
    const auto fileSystem = treatAsFileSystem(parts[0]);
    if (!fileSystem) {
        error = "unknown file system '" + std::string(parts[0]) + "' (one of EXTX, FAT16, FAT32, FAT64, HFS+, NTFS, RAW)";
        return std::nullopt;
    }
    const auto start = parseNumber(parts[1]);
    const auto size = parseNumber(parts[2]);
    if (!start || !size) {
        error = "START (sectors) and SIZE_MB must be whole numbers";
        return std::nullopt;
    }
    VolumeRecord record = customVolumeEntry(0);
    record.fileSystem = *fileSystem;
    record.volumeName = "custom";
    record.startSector = *start;
    if (!volumeStartOffset(record)) {
        error = "START is past the end of any disk";
        return std::nullopt;
    }
    if (*size > (1LL << 40)) {
        error = "SIZE_MB is larger than any disk";
        return std::nullopt;
    }
    record.sizeText = std::to_string(*size);
    record.sectorCount = static_cast<std::uint64_t>(*size) * 2048;
    return record;
}

}  // namespace halvard
