#include "fs/hfsplus/hfs_plus_engine.h"

#include <algorithm>
#include <cstdio>
#include <set>
#include <unordered_map>

#include "common/texts.h"

namespace halvard {

using namespace hfs_format;

namespace {

// The scan reads the volume this much at a time (plus one node) and tests every block boundary in memory.
constexpr std::uint64_t kScanChunk = 0x3200000;
// Nodes of a B-tree file are read this much at a time.
constexpr std::uint64_t kNodeChunk = 1 << 20;
constexpr std::uint64_t kMaxBlockSize = 1 << 20;
constexpr std::uint64_t kMaxNodeSize = 32768;
// Used by the scan when the catalog's header node gives no usable node size.
constexpr std::uint64_t kDefaultCatalogNodeSize = 8192;
constexpr std::uint64_t kReportEvery = 256;
constexpr const char* kOrphanName = "ORPHAN_ENTRY";

std::vector<Extent> nonEmpty(const ExtentRecord& record) {
    std::vector<Extent> list;
    for (const Extent& e : record) {
        if (e.blockCount == 0) break;  // the record ends at its first empty extent
        if (e.startBlock != 0) list.push_back(e);
    }
    return list;
}

std::uint64_t blocksOf(const std::vector<Extent>& extents) {
    std::uint64_t n = 0;
    for (const Extent& e : extents) n += e.blockCount;
    return n;
}

}  // namespace

void HfsPlusEngine::insertTopItem() {
    if (treeControl) topItem_ = treeControl->insertItem(kNoTreeItem, rootName, TreeIcon::Root);
}

bool HfsPlusEngine::pollStop() const { return stop.stopNow(); }

bool HfsPlusEngine::readVolumeHeader() {
    std::vector<std::uint8_t> buffer(kVolumeHeaderSize, 0);
    reader_.read(kVolumeHeaderOffset, buffer);
    header_ = VolumeHeader::read(buffer);
    headerRead_ = true;
    return true;
}

std::uint64_t HfsPlusEngine::volumeBlocks() const {
    const std::uint64_t bs = header_.blockSize;
    if (header_.totalBlocks == 0 && bs != 0) return volumeSize() / bs;
    return header_.totalBlocks;
}

std::optional<HfsPlusEngine::Piece> HfsPlusEngine::locate(const std::vector<Extent>& extents, std::uint64_t forkOffset) const {
    const std::uint64_t bs = header_.blockSize;
    if (bs == 0 || extents.empty()) return std::nullopt;
    const std::uint64_t block = forkOffset / bs;
    const std::uint64_t within = forkOffset % bs;
    std::uint64_t covered = 0;
    for (const Extent& e : extents) {
        if (block < covered + e.blockCount) {
            // The piece ends with its extent, or where the volume ends.
            const std::uint64_t physical = e.startBlock + (block - covered);
            if (physical >= volumeBlocks()) return std::nullopt;
            const std::uint64_t blocks = std::min(covered + e.blockCount - block, volumeBlocks() - physical);
            return Piece{physical * bs + within, blocks * bs - within};
        }
        covered += e.blockCount;
    }
    // Past the known extents: read on as if the file continued from its first extent.
    const std::uint64_t physical = extents.front().startBlock + block;
    if (physical >= volumeBlocks()) return std::nullopt;
    return Piece{physical * bs + within, bs - within};
}

bool HfsPlusEngine::readFork(const std::vector<Extent>& extents, std::uint64_t forkOffset, std::vector<std::uint8_t>& buffer) const {
    std::fill(buffer.begin(), buffer.end(), 0);
    bool ok = true;
    for (std::uint64_t done = 0; done < buffer.size();) {
        const auto piece = locate(extents, forkOffset + done);
        if (!piece) return false;
        const std::uint64_t n = std::min<std::uint64_t>(piece->length, buffer.size() - done);
        ok = reader_.read(piece->position, buffer.data() + done, n) && ok;
        done += n;
    }
    return ok;
}

std::vector<Extent> HfsPlusEngine::forkExtents(std::uint32_t fileId, const std::vector<Extent>& first,
                                      std::uint64_t totalBlocks) const {
    std::vector<Extent> list = first;
    std::uint64_t gathered = blocksOf(list);
    // Each overflow record continues the fork at the number of blocks covered so far.
    for (std::size_t guard = 0; gathered < totalBlocks && guard <= overflow_.size(); ++guard) {
        const auto it = overflow_.find({fileId, static_cast<std::uint32_t>(gathered)});
        if (it == overflow_.end() || gathered > 0xFFFFFFFFULL) break;
        const std::vector<Extent> more = nonEmpty(it->second);
        if (more.empty()) break;
        list.insert(list.end(), more.begin(), more.end());
        gathered += blocksOf(more);
    }
    return list;
}

bool HfsPlusEngine::readHeaderNode(const std::vector<Extent>& extents, HeaderRecord& header,
                          std::vector<std::uint8_t>& node) const {
    node.assign(512, 0);
    if (!readFork(extents, 0, node)) return false;
    header = HeaderRecord::read(node);
    return NodeDescriptor::read(node).knownKind() && header.nodeSizeValid() && header.nodeSize <= kMaxNodeSize;
}

void HfsPlusEngine::forEachNode(const std::vector<Extent>& extents, std::uint64_t nodeSize, std::uint64_t total,
                       bool reportProgress, const std::function<void(std::uint64_t, Bytes)>& visit) const {
    std::vector<std::uint8_t> buffer;
    const std::uint64_t perChunk = std::max<std::uint64_t>(kNodeChunk / nodeSize, 1);
    for (std::uint64_t n = 1; n < total; n += perChunk) {
        if (pollStop()) break;
        if (reportProgress) reporting.setPosition(static_cast<std::uint32_t>(n));
        const std::uint64_t count = std::min(perChunk, total - n);
        buffer.assign(count * nodeSize, 0);
        readFork(extents, n * nodeSize, buffer);
        for (std::uint64_t k = 0; k < count; ++k) visit(n + k, slice(buffer, k * nodeSize, nodeSize));
    }
}

std::uint64_t HfsPlusEngine::nodesToRead(const HeaderRecord& tree, std::uint64_t forkBlocks) const {
    // A damaged header can claim billions of nodes: no more are read than the file and the volume hold.
    std::uint64_t total = std::min<std::uint64_t>(tree.totalNodes, forkBlocks * header_.blockSize / tree.nodeSize);
    if (volumeSize() != 0) total = std::min<std::uint64_t>(total, volumeSize() / tree.nodeSize);
    return total;
}

bool HfsPlusEngine::indexExtentsOverflow() {
    overflow_.clear();
    if (!header_.blockSizeValid() || header_.blockSize > kMaxBlockSize) return false;
    const std::vector<Extent> extents = nonEmpty(header_.extentsFile.extents);
    HeaderRecord tree;
    std::vector<std::uint8_t> buffer;
    if (!readHeaderNode(extents, tree, buffer)) return false;
    const std::uint64_t total = nodesToRead(tree, blocksOf(extents));
    forEachNode(extents, tree.nodeSize, total, false, [&](std::uint64_t, Bytes node) {
        const NodeDescriptor d = NodeDescriptor::read(node);
        if (d.kind != kLeafNode) return;
        for (std::uint16_t offset : recordOffsets(node, d.records)) {
            const auto r = readExtentsRecord(node, offset);
            // Only data forks are ever saved; a resource fork's record must not stand in for them.
            if (r && r->forkType == 0) overflow_.emplace(OverflowKey{r->fileId, r->startBlock}, r->extents);
        }
    });
    return true;
}

bool HfsPlusEngine::readCatalogNodes() {
    catalogNodes_.clear();
    if (!headerRead_ || !header_.blockSizeValid() || header_.blockSize > kMaxBlockSize) return false;
    catalogExtents_ = forkExtents(kCatalogFileId, nonEmpty(header_.catalogFile.extents), header_.catalogFile.totalBlocks);
    HeaderRecord tree;
    std::vector<std::uint8_t> buffer;
    if (!readHeaderNode(catalogExtents_, tree, buffer)) return false;
    nodeSize_ = tree.nodeSize;
    firstLeafNode_ = tree.firstLeafNode;
    const std::uint64_t total =
        nodesToRead(tree, std::max<std::uint64_t>(blocksOf(catalogExtents_), header_.catalogFile.totalBlocks));
    reporting.setRange(0, static_cast<std::uint32_t>(std::min<std::uint64_t>(total, 0xFFFFFFFFULL)));
    forEachNode(catalogExtents_, nodeSize_, total, true, [&](std::uint64_t number, Bytes node) {
        const NodeDescriptor d = NodeDescriptor::read(node);
        if (d.knownKind() && d.records != 0)
            catalogNodes_.push_back({number, 0, d.kind, d.height, d.records, d.forwardLink, recordOffsets(node, d.records)});
    });
    return true;
}

bool HfsPlusEngine::scanCatalogLeafNodes() {
    catalogNodes_.clear();
    const std::uint64_t bs = header_.blockSize;
    if (!header_.blockSizeValid() || bs > kMaxBlockSize) {
        reporting.setStatus("BlockSize not valid .Aborting..");
        return false;
    }
    HeaderRecord tree;
    std::vector<std::uint8_t> buffer;
    nodeSize_ = readHeaderNode(nonEmpty(header_.catalogFile.extents), tree, buffer) ? tree.nodeSize
                                                                                     : kDefaultCatalogNodeSize;
    scanned_ = true;
    // The volume record's size is whole MiB; the header's own size reaches the last block, as far as the disk goes.
    std::uint64_t volumeBytes = std::max<std::uint64_t>(volumeSize(), std::uint64_t{header_.totalBlocks} * bs);
    const std::uint64_t disk = reader_.diskBytesFromStart();
    if (disk != 0)
        volumeBytes = std::min(volumeBytes, std::max(disk, volumeSize()));
    else if (volumeSize() != 0)
        volumeBytes = volumeSize();
    reporting.setRange(0, static_cast<std::uint32_t>(std::min<std::uint64_t>(volumeBytes / bs, 0xFFFFFFFFULL)));
    // Nodes start at block boundaries of the catalog file, and at node boundaries inside a block.
    const std::uint64_t step = std::min<std::uint64_t>(bs, nodeSize_);
    for (std::uint64_t start = 0; start + nodeSize_ <= volumeBytes; start += kScanChunk) {
        if (pollStop()) break;
        reporting.setPosition(static_cast<std::uint32_t>(start / bs));
        buffer.assign(std::min<std::uint64_t>(kScanChunk + nodeSize_, volumeBytes - start), 0);
        reader_.read(start, buffer);
        for (std::uint64_t at = 0; at < kScanChunk && at + nodeSize_ <= buffer.size(); at += step) {
            const Bytes node = slice(buffer, at, nodeSize_);
            if (!looksLikeLeafNode(node)) continue;
            const NodeDescriptor d = NodeDescriptor::read(node);
            catalogNodes_.push_back({(start + at) / nodeSize_, start + at, d.kind, d.height, d.records, d.forwardLink,
                                     recordOffsets(node, d.records)});
        }
    }
    return true;
}

void HfsPlusEngine::takeRecords(const CatalogNode& node, Bytes bytes, bool live) {
    for (std::uint16_t offset : node.offsets) {
        const auto r = readCatalogRecord(bytes, offset);
        if (!r || r->id == 0) continue;
        HfsEntry e;
        e.kind = r->type;
        e.parentId = r->parentId;
        e.id = r->id;
        e.nodePosition = node.position;
        e.recordOffset = offset;
        e.name = r->name;
        e.createDate = r->createDate;
        e.contentModDate = r->contentModDate;
        e.attributeModDate = r->attributeModDate;
        e.accessDate = r->accessDate;
        e.fileMode = r->fileMode;
        if (r->isHardLink()) e.linkInode = r->special;
        e.deleted = !live;
        if (r->type == kFileRecord) {
            e.logicalSize = r->dataFork.logicalSize;
            e.totalBlocks = r->dataFork.totalBlocks;
            e.extents = nonEmpty(r->dataFork.extents);
        }
        entriesById_.emplace(e.id, std::move(e));  // an ID already present keeps its first entry
    }
}

void HfsPlusEngine::readCatalogRecords() {
    entriesById_.clear();
    reporting.setRange(0, static_cast<std::uint32_t>(catalogNodes_.size()));
    // The live leaf chain first, so that a stale copy in a free node never shadows a record in use.
    std::vector<std::pair<std::size_t, bool>> order;
    if (!scanned_) {
        std::unordered_map<std::uint64_t, std::size_t> leafByNumber;
        for (std::size_t i = 0; i < catalogNodes_.size(); ++i)
            if (catalogNodes_[i].kind == kLeafNode) leafByNumber.emplace(catalogNodes_[i].number, i);
        std::set<std::size_t> live;
        for (std::uint64_t n = firstLeafNode_; n != 0 && live.size() < leafByNumber.size();) {
            const auto it = leafByNumber.find(n);
            if (it == leafByNumber.end() || !live.insert(it->second).second) break;
            order.emplace_back(it->second, true);
            n = catalogNodes_[it->second].forwardLink;
        }
        for (const auto& [number, i] : leafByNumber)
            if (!live.count(i)) order.emplace_back(i, false);
        std::sort(order.begin() + static_cast<std::ptrdiff_t>(live.size()), order.end());
    } else {
        for (std::size_t i = 0; i < catalogNodes_.size(); ++i) order.emplace_back(i, true);
    }
    std::vector<std::uint8_t> buffer(nodeSize_, 0);
    for (std::size_t k = 0; k < order.size(); ++k) {
        if (pollStop()) break;
        CatalogNode& node = catalogNodes_[order[k].first];
        if (node.kind != kLeafNode) continue;
        if (k % kReportEvery == 0) reporting.setPosition(static_cast<std::uint32_t>(k));
        if (scanned_) {
            reader_.read(node.position, buffer);
        } else {
            readFork(catalogExtents_, node.number * nodeSize_, buffer);
            const auto piece = locate(catalogExtents_, node.number * nodeSize_);
            node.position = piece ? piece->position : 0;
        }
        takeRecords(node, buffer, order[k].second);
    }
}

void HfsPlusEngine::linkCatalogEntries() {
    reporting.setStatus("Maintaining Parent Child....");
    const std::uint64_t count = entriesById_.size();
    reporting.setRange(0, static_cast<std::uint32_t>(count));
    std::vector<std::uint32_t> orphans;
    std::uint64_t k = 0;
    for (auto& [id, e] : entriesById_) {
        if (pollStop()) break;
        if (k % kReportEvery == 0 || k + 1 == count) {
            char text[96];
            std::snprintf(text, sizeof text, "Maintaining Parent Child for record %d of %d....", static_cast<int>(k),
                          static_cast<int>(count));
            reporting.setStatus(text);
            reporting.setPosition(static_cast<std::uint32_t>(k + 1));
        }
        ++k;
        const auto parent = entriesById_.find(e.parentId);
        if (e.parentId > 0 && parent != entriesById_.end() && parent->second.isFolder() && e.parentId != id) {
            e.nextSibling = parent->second.firstChild;
            parent->second.firstChild = id;
        } else if (e.parentId != kRootParentId && e.parentId != kRootFolderId) {
            orphans.push_back(id);
        }
    }
    findLinkTargets();
    if (orphans.empty() || entriesById_.empty()) return;
    // Entries whose folder is gone are gathered under one synthetic folder at the top level.
    orphanId_ = static_cast<std::int64_t>(entriesById_.rbegin()->first) + 1;
    if (orphanId_ > 0xFFFFFFFFLL) return;
    HfsEntry orphan;
    orphan.kind = kFolderRecord;
    orphan.parentId = kRootFolderId;
    orphan.id = static_cast<std::uint32_t>(orphanId_);
    orphan.name = kOrphanName;
    for (std::uint32_t id : orphans) {
        HfsEntry& e = entriesById_.at(id);
        e.nextSibling = orphan.firstChild;
        orphan.firstChild = id;
    }
    entriesById_.emplace(orphan.id, std::move(orphan));
}

void HfsPlusEngine::findLinkTargets() {
    linkTargets_.clear();
    for (const auto& [id, folder] : entriesById_) {
        if (folder.parentId != kRootFolderId || !folder.isFolder() || folder.name != kPrivateDataFolder) continue;
        for (std::uint32_t child : childIds(id)) {
            const std::string& name = entriesById_.at(child).name;
            if (name.rfind("iNode", 0) != 0 || name.size() > 15) continue;
            const std::string digits = name.substr(5);
            if (digits.empty() || digits.find_first_not_of("0123456789") != std::string::npos) continue;
            linkTargets_.emplace(static_cast<std::uint32_t>(std::stoull(digits)), child);
        }
    }
}

const HfsEntry& HfsPlusEngine::contentOf(const HfsEntry& file) const {
    if (file.linkInode == 0) return file;
    const auto target = linkTargets_.find(file.linkInode);
    const HfsEntry* e = target == linkTargets_.end() ? nullptr : entry(target->second);
    return e && !e->isFolder() ? *e : file;
}

void HfsPlusEngine::fillTopLevel() {
    if (!treeControl) return;
    std::uint64_t position = 0;
    for (const auto& [id, e] : entriesById_) {
        ++position;
        if (e.parentId != kRootFolderId || id == kRootFolderId) continue;
        if (pollStop()) break;
        char text[64];
        std::snprintf(text, sizeof text, e.isFolder() ? "found folder at Node %lld" : "found file at Node %lld",
                      static_cast<long long>(position - 1));
        reporting.setStatus(text);
        treeControl->insertItem(topItem_, e.name, e.isFolder() ? TreeIcon::Folder : TreeIcon::File,
                                TreeColour::Normal, id);
        treeControl->expandItem(topItem_);
    }
}

const HfsEntry* HfsPlusEngine::entry(std::int64_t id) const {
    if (id < 0 || id > 0xFFFFFFFFLL) return nullptr;
    const auto it = entriesById_.find(static_cast<std::uint32_t>(id));
    return it == entriesById_.end() ? nullptr : &it->second;
}

std::vector<std::uint32_t> HfsPlusEngine::topLevelIds() const {
    std::vector<std::uint32_t> ids;
    for (const auto& [id, e] : entriesById_)
        if (e.parentId == kRootFolderId && id != kRootFolderId) ids.push_back(id);
    return ids;
}

std::vector<std::uint32_t> HfsPlusEngine::childIds(std::int64_t id) const {
    std::vector<std::uint32_t> ids;
    const HfsEntry* folder = entry(id);
    if (!folder || !folder->isFolder()) return ids;
    // A damaged catalog can chain siblings into a loop; no chain is longer than the map.
    for (std::int64_t k = folder->firstChild; k > 0 && ids.size() < entriesById_.size();) {
        const HfsEntry* child = entry(k);
        if (!child) break;
        ids.push_back(static_cast<std::uint32_t>(k));
        k = child->nextSibling;
    }
    return ids;
}

std::string HfsPlusEngine::permissionText(std::uint16_t mode) {
    static const std::vector<AttributeCode> codes = {
        {0x0040, "-Owner:X"}, {0x0080, "-Owner:W"}, {0x0100, "-Owner:R"}, {0x0001, "-OX"}, {0x0002, "-OW"},
        {0x0004, "-OR"},      {0x0008, "-GX"},      {0x0010, "-GW"},      {0x0020, "-GR"}};
    return attributeText(mode, codes);
}

std::unique_ptr<FileContent> HfsPlusEngine::openForkContent(std::uint32_t id) const {
    const HfsEntry* link = entry(id);
    if (!link || link->isFolder()) return refusedContent("not a file");
    // A hard link keeps its own dates; its content is its inode file's.
    const HfsEntry* e = &contentOf(*link);
    BlockFile file;
    file.blockSize = header_.blockSize;
    file.size = e->logicalSize;
    file.volumeBlocks = volumeBlocks();
    // The creation date cannot be set on a host file; the access and content dates are.
    ContentFacts facts;
    facts.accessed = ContentTime{static_cast<std::int64_t>(link->accessDate) - kHfsEpochOffset, 0};
    facts.modified = ContentTime{static_cast<std::int64_t>(link->contentModDate) - kHfsEpochOffset, 0};
    if (file.size == 0 || file.blockSize == 0) return memoryContent({}, std::move(facts));
    std::uint64_t logical = 0;
    for (const Extent& x : forkExtents(e->id, e->extents, e->totalBlocks)) {
        file.runs.push_back({logical, x.startBlock, x.blockCount, false});
        logical += x.blockCount;
    }
    return blockFileContent(reader_, file, std::move(facts));
}

}  // namespace halvard
