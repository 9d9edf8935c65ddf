#include "support/qcow2_builder.h"

#include "support/vhdx_builder.h"

namespace halvard::testing {

namespace {

void putBig(std::vector<std::uint8_t>& out, std::uint64_t offset, std::uint64_t value, unsigned bytes) {
    if (out.size() < offset + bytes) out.resize(offset + bytes, 0);
    for (unsigned i = 0; i < bytes; ++i) out[offset + i] = static_cast<std::uint8_t>(value >> (8 * (bytes - 1 - i)));
}

void putText(std::vector<std::uint8_t>& out, std::uint64_t offset, const std::string& text) {
    if (out.size() < offset + text.size()) out.resize(offset + text.size(), 0);
    std::copy(text.begin(), text.end(), out.begin() + static_cast<std::ptrdiff_t>(offset));
}

constexpr std::uint64_t kExtendedL2Bit = 1ULL << 4;
constexpr std::uint64_t kCompressionTypeBit = 1ULL << 3;

}  // namespace

Qcow2Builder::Qcow2Builder(Qcow2Spec spec) : spec_(std::move(spec)) {
    const std::uint64_t perTable = (clusterSize() / (spec_.extendedL2 ? 16 : 8)) * clusterSize();
    l1_.assign(spec_.size / perTable + (spec_.size % perTable != 0), 0);
    file_.assign(2 * clusterSize(), 0);
}

std::uint64_t Qcow2Builder::appendCluster(const std::vector<std::uint8_t>& content) {
    const std::uint64_t offset = file_.size();
    file_.resize(offset + clusterSize(), 0);
    std::copy(content.begin(), content.begin() + static_cast<std::ptrdiff_t>(std::min<std::uint64_t>(content.size(), clusterSize())),
              file_.begin() + static_cast<std::ptrdiff_t>(offset));
    return offset;
}

std::uint64_t Qcow2Builder::l2Table(std::uint64_t index) {
    if (l1_[index] == 0) l1_[index] = appendCluster({});
    return l1_[index];
}

void Qcow2Builder::setEntry(std::uint64_t cluster, std::uint64_t entry, std::uint64_t bitmap) {
    const unsigned entryBytes = spec_.extendedL2 ? 16 : 8;
    const std::uint64_t perTable = clusterSize() / entryBytes;
    const std::uint64_t table = l2Table(cluster / perTable);
    const std::uint64_t at = table + (cluster % perTable) * entryBytes;
    putBig(file_, at, entry, 8);
    if (spec_.extendedL2) putBig(file_, at + 8, bitmap, 8);
}

void Qcow2Builder::setL1(std::uint64_t index, std::uint64_t offset) { l1_.at(index) = offset; }

std::uint64_t Qcow2Builder::addDataCluster(std::uint64_t cluster, std::uint64_t bitmap) {
    std::vector<std::uint8_t> content(clusterSize());
    for (std::uint64_t i = 0; i < content.size(); ++i) content[i] = patternByte(cluster * clusterSize() + i);
    const std::uint64_t host = appendCluster(content);
    setEntry(cluster, host | (1ULL << 63), bitmap);
    return host;
}

void Qcow2Builder::addCompressedCluster(std::uint64_t cluster) {
    // Raw deflate in stored blocks of at most 65535 bytes; placed off any sector boundary, as qemu packs them.
    std::vector<std::uint8_t> stream;
    const std::uint64_t size = clusterSize();
    for (std::uint64_t done = 0; done < size;) {
        const std::uint64_t n = std::min<std::uint64_t>(65535, size - done);
        const bool last = done + n == size;
        stream.push_back(last ? 1 : 0);
        stream.push_back(static_cast<std::uint8_t>(n));
        stream.push_back(static_cast<std::uint8_t>(n >> 8));
        stream.push_back(static_cast<std::uint8_t>(~n));
        stream.push_back(static_cast<std::uint8_t>(~n >> 8));
        for (std::uint64_t i = 0; i < n; ++i) stream.push_back(patternByte(cluster * size + done + i));
        done += n;
    }
    const std::uint64_t host = file_.size() + 100;
    file_.resize(host, 0xCC);
    file_.insert(file_.end(), stream.begin(), stream.end());
    file_.resize((file_.size() + 511) / 512 * 512, 0);
    const std::uint64_t sectors = (host % 512 + stream.size() + 511) / 512;
    const unsigned shift = 62 - (spec_.clusterBits - 8);
    setEntry(cluster, (1ULL << 62) | ((sectors - 1) << shift) | host);
    // Later clusters start on a cluster boundary again.
    file_.resize((file_.size() + size - 1) / size * size, 0);
}

void Qcow2Builder::addSnapshot(const std::string& id, const std::string& name, std::uint64_t diskSize) {
    // The snapshot keeps copies of the L2 tables, so that later changes to the current state leave it alone.
    std::vector<std::uint8_t> table;
    for (std::uint64_t i = 0; i < l1_.size(); ++i) {
        std::uint64_t copy = 0;
        if (l1_[i]) {
            const auto at = file_.begin() + static_cast<std::ptrdiff_t>(l1_[i]);
            copy = appendCluster(std::vector<std::uint8_t>(at, at + static_cast<std::ptrdiff_t>(clusterSize())));
        }
        putBig(table, i * 8, copy, 8);
    }
    snapshots_.push_back({id, name, appendCluster(table), diskSize});
}

std::vector<std::uint8_t> Qcow2Builder::bytes() const {
    std::vector<std::uint8_t> out = file_;
    std::uint64_t incompatible = spec_.extraIncompatible;
    if (spec_.extendedL2) incompatible |= kExtendedL2Bit;
    if (spec_.compressionType) incompatible |= kCompressionTypeBit;
    putBig(out, 0, 0x514649FB, 4);
    putBig(out, 4, spec_.version, 4);
    putBig(out, 20, spec_.clusterBits, 4);
    putBig(out, 24, spec_.size, 8);
    putBig(out, 32, spec_.cryptMethod, 4);
    putBig(out, 36, l1_.size(), 4);
    putBig(out, 40, clusterSize(), 8);
    std::uint64_t at = 72;
    if (spec_.version >= 3) {
        putBig(out, 72, incompatible, 8);
        putBig(out, 96, 4, 4);
        putBig(out, 100, 112, 4);
        out[104] = spec_.compressionType;
        at = 112;
    }
    auto extension = [&](std::uint32_t type, const std::vector<std::uint8_t>& body) {
        putBig(out, at, type, 4);
        putBig(out, at + 4, body.size(), 4);
        for (std::size_t i = 0; i < body.size(); ++i) out[at + 8 + i] = body[i];
        at += 8 + (body.size() + 7) / 8 * 8;
    };
    if (!spec_.backingFormat.empty())
        extension(0xE2792ACA, std::vector<std::uint8_t>(spec_.backingFormat.begin(), spec_.backingFormat.end()));
    if (!spec_.featureNames.empty()) {
        std::vector<std::uint8_t> body;
        for (const auto& [bit, name] : spec_.featureNames) {
            std::vector<std::uint8_t> entry(48, 0);
            entry[1] = static_cast<std::uint8_t>(bit);
            std::copy(name.begin(), name.end(), entry.begin() + 2);
            body.insert(body.end(), entry.begin(), entry.end());
        }
        extension(0x6803F857, body);
    }
    putBig(out, at, 0, 8);  // end of the extensions
    at += 8;
    if (!spec_.backingName.empty()) {
        putBig(out, 8, at, 8);
        putBig(out, 16, spec_.backingName.size(), 4);
        putText(out, at, spec_.backingName);
    }
    for (std::uint64_t i = 0; i < l1_.size(); ++i) putBig(out, clusterSize() + i * 8, l1_[i], 8);
    if (!snapshots_.empty()) {
        std::vector<std::uint8_t> table;
        for (const Snapshot& s : snapshots_) {
            const std::uint64_t base = table.size();
            putBig(table, base, s.l1Offset, 8);
            putBig(table, base + 8, l1_.size(), 4);
            putBig(table, base + 12, s.id.size(), 2);
            putBig(table, base + 14, s.name.size(), 2);
            putBig(table, base + 36, 24, 4);  // extra data: VM state size, disk size, icount
            putBig(table, base + 48, s.diskSize ? s.diskSize : spec_.size, 8);
            putText(table, base + 64, s.id);
            putText(table, base + 64 + s.id.size(), s.name);
            table.resize((table.size() + 7) / 8 * 8, 0);
        }
        const std::uint64_t offset = out.size();
        out.insert(out.end(), table.begin(), table.end());
        putBig(out, 60, snapshots_.size(), 4);
        putBig(out, 64, offset, 8);
    }
    return out;
}

}  // namespace halvard::testing
