#include "support/vmdk_builder.h"

#include <cstring>
#include <stdexcept>

#include "support/vdi_builder.h"
#include "support/vhdx_builder.h"

namespace halvard::testing {

namespace {

constexpr std::uint64_t kDescriptorSectors = 20;

std::uint64_t sectorsFor(std::uint64_t bytes) { return (bytes + 511) / 512; }

std::string descriptorText(const VmdkSpec& spec) {
    std::string t = "# Disk DescriptorFile\nversion=1\nCID=" + spec.CID + "\nparentCID=" + spec.parentCID +
                    "\ncreateType=\"" + spec.createType + "\"\n";
    if (!spec.parentFileNameHint.empty()) t += "parentFileNameHint=\"" + spec.parentFileNameHint + "\"\n";
    t += "\n# Extent description\nRW " + std::to_string(spec.capacity) + " SPARSE \"test.vmdk\"\n\n";
    t += "# The Disk Data Base\n#DDB\n\nddb.virtualHWVersion = \"4\"\nddb.geometry.cylinders = \"16\"\n"
         "ddb.geometry.heads = \"16\"\nddb.geometry.sectors = \"63\"\nddb.adapterType = \"ide\"\n";
    return t;
}

void putHeader(std::vector<std::uint8_t>& f, std::uint64_t at, const VmdkSpec& spec, std::uint64_t gd,
               std::uint64_t rgd, std::uint64_t overhead) {
    std::memcpy(f.data() + at, "KDMV", 4);
    putLe32(f, at + 4, spec.version);
    std::uint32_t flags = 1 | 2;
    if (!spec.zeroGrains.empty()) flags |= 4;
    if (spec.compressed) flags |= (1U << 16) | (1U << 17);
    putLe32(f, at + 8, flags);
    putLe64(f, at + 12, spec.capacity);
    putLe64(f, at + 20, spec.grainSize);
    putLe64(f, at + 28, spec.createType.empty() ? 0 : 1);
    putLe64(f, at + 36, spec.createType.empty() ? 0 : kDescriptorSectors);
    putLe32(f, at + 44, spec.gtEntries);
    putLe64(f, at + 48, rgd);
    putLe64(f, at + 56, gd);
    putLe64(f, at + 64, overhead);
    f[at + 73] = '\n';
    f[at + 74] = ' ';
    f[at + 75] = '\r';
    f[at + 76] = '\n';
    if (spec.compressed) f[at + 77] = 1;
}

}  // namespace

std::vector<std::uint8_t> zlibStored(const std::vector<std::uint8_t>& data) {
    std::vector<std::uint8_t> z = {0x78, 0x01};
    std::size_t at = 0;
    do {
        const std::size_t n = std::min<std::size_t>(data.size() - at, 65535);
        const bool last = at + n == data.size();
        z.push_back(last ? 1 : 0);
        z.push_back(static_cast<std::uint8_t>(n));
        z.push_back(static_cast<std::uint8_t>(n >> 8));
        z.push_back(static_cast<std::uint8_t>(~n));
        z.push_back(static_cast<std::uint8_t>(~n >> 8));
        z.insert(z.end(), data.begin() + static_cast<std::ptrdiff_t>(at), data.begin() + static_cast<std::ptrdiff_t>(at + n));
        at += n;
    } while (at < data.size());
    std::uint32_t a = 1, b = 0;
    for (std::uint8_t byte : data) {
        a = (a + byte) % 65521;
        b = (b + a) % 65521;
    }
    const std::uint32_t adler = (b << 16) | a;
    for (int i = 3; i >= 0; --i) z.push_back(static_cast<std::uint8_t>(adler >> (8 * i)));
    return z;
}

std::vector<std::uint8_t> buildVmdk(const VmdkSpec& spec, VmdkLayout* layoutOut) {
    VmdkLayout layout;
    const std::uint64_t perTable = spec.grainSize * spec.gtEntries;
    const std::uint64_t directoryEntries = (spec.capacity + perTable - 1) / perTable;
    const std::uint64_t directorySectors = sectorsFor(directoryEntries * 4);
    const std::uint64_t tableSectors = sectorsFor(std::uint64_t{spec.gtEntries} * 4);
    const std::uint64_t grainBytes = spec.grainSize * 512;

    std::set<std::uint64_t> tablesInUse;
    for (std::uint64_t g : spec.allocatedGrains) tablesInUse.insert(g / spec.gtEntries);
    for (std::uint64_t g : spec.zeroGrains) tablesInUse.insert(g / spec.gtEntries);

    std::uint64_t next = 1;
    if (!spec.createType.empty()) {
        layout.descriptor = 1;
        next += kDescriptorSectors;
    }
    // Redundant directory and tables, then the primary ones.
    std::vector<std::uint64_t> redundantTables(directoryEntries, 0);
    layout.redundantDirectory = next;
    next += directorySectors;
    for (std::uint64_t t : tablesInUse) {
        redundantTables[t] = next;
        next += tableSectors;
    }
    layout.tables.assign(directoryEntries, 0);
    layout.directory = next;
    next += directorySectors;
    for (std::uint64_t t : tablesInUse) {
        layout.tables[t] = next;
        next += tableSectors;
    }
    layout.firstGrain = next;

    std::vector<std::uint8_t> f(next * 512, 0);
    if (!spec.createType.empty()) {
        const std::string text = descriptorText(spec);
        std::memcpy(f.data() + 512, text.data(), text.size());
    }
    std::vector<std::uint32_t> entries(directoryEntries * spec.gtEntries, 0);
    for (std::uint64_t g : spec.zeroGrains) entries[g] = 1;
    // Grains, last one first.
    for (auto it = spec.allocatedGrains.rbegin(); it != spec.allocatedGrains.rend(); ++it) {
        const std::uint64_t grain = *it;
        if (grain * spec.grainSize >= spec.capacity) throw std::invalid_argument("grain beyond the disk");
        std::vector<std::uint8_t> data(grainBytes);
        for (std::uint64_t i = 0; i < grainBytes; ++i) data[i] = patternByte(grain * grainBytes + i);
        entries[grain] = static_cast<std::uint32_t>(f.size() / 512);
        if (spec.compressed) {
            const auto z = zlibStored(data);
            std::vector<std::uint8_t> marker(12, 0);
            putLe64(marker, 0, grain * spec.grainSize);
            putLe32(marker, 8, static_cast<std::uint32_t>(z.size()));
            f.insert(f.end(), marker.begin(), marker.end());
            f.insert(f.end(), z.begin(), z.end());
            f.resize(sectorsFor(f.size()) * 512, 0);
        } else {
            f.insert(f.end(), data.begin(), data.end());
        }
    }
    for (std::uint64_t d = 0; d < directoryEntries; ++d) {
        putLe32(f, layout.redundantDirectory * 512 + 4 * d, static_cast<std::uint32_t>(redundantTables[d]));
        putLe32(f, layout.directory * 512 + 4 * d, static_cast<std::uint32_t>(layout.tables[d]));
        if (!layout.tables[d]) continue;
        for (std::uint32_t e = 0; e < spec.gtEntries; ++e) {
            putLe32(f, redundantTables[d] * 512 + 4 * e, entries[d * spec.gtEntries + e]);
            putLe32(f, layout.tables[d] * 512 + 4 * e, entries[d * spec.gtEntries + e]);
        }
    }
    if (spec.grainDirectoryAtEnd) {
        putHeader(f, 0, spec, ~0ULL, 0, layout.firstGrain);
        // Footer marker, footer, end-of-stream marker.
        const std::uint64_t at = f.size();
        f.resize(at + 3 * 512, 0);
        putLe32(f, at + 12, 3);
        putHeader(f, at + 512, spec, layout.directory, layout.redundantDirectory, layout.firstGrain);
    } else {
        putHeader(f, 0, spec, layout.directory, layout.redundantDirectory, layout.firstGrain);
    }
    if (layoutOut) *layoutOut = layout;
    return f;
}

std::vector<std::uint8_t> expectedVmdkDisk(const VmdkSpec& spec) {
    const std::uint64_t grainBytes = spec.grainSize * 512;
    std::vector<std::uint8_t> disk(spec.capacity * 512, 0);
    for (std::uint64_t grain : spec.allocatedGrains)
        for (std::uint64_t i = 0; i < grainBytes && grain * grainBytes + i < disk.size(); ++i)
            disk[grain * grainBytes + i] = patternByte(grain * grainBytes + i);
    return disk;
}

}  // namespace halvard::testing
