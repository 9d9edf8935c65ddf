#include "image/entry_table.h"

#include "common/bytes.h"
#include "common/table_limit.h"

namespace halvard {

std::vector<std::uint32_t> readLe32Table(const ImageFile& file, std::uint64_t offset, std::uint64_t count,
                                         const std::string& name, std::vector<std::string>& notes) {
    const std::uint64_t fileSize = file.size();
    const std::uint64_t inFile = offset < fileSize ? (fileSize - offset) / 4 : 0;
    if (count > inFile) {
        notes.push_back(name + " is cut short by the end of the file (" + std::to_string(inFile) + " of " +
                        std::to_string(count) + " entries)");
        count = inFile;
    }
    if (count > maxTableEntries(sizeof(std::uint64_t))) {
        count = maxTableEntries(sizeof(std::uint64_t));
        notes.push_back(name + " is cut to " + std::to_string(count) + " entries, the most one table may take in memory");
    }
    std::vector<std::uint8_t> raw(count * 4);
    raw.resize(file.readAt(offset, raw.data(), raw.size()));
    std::vector<std::uint32_t> entries(raw.size() / 4);
    for (std::uint64_t i = 0; i < entries.size(); ++i) entries[i] = le32(raw, i * 4);
    return entries;
}

}  // namespace halvard
