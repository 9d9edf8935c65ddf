#include "raw/carving_engine.h"

#include <algorithm>
#include <cstring>
#include <limits>
#include <new>

#include "common/bytes.h"
#include "image/unstored_skip.h"
#include "raw/candidate_bytes.h"

namespace halvard {

namespace {

constexpr std::uint64_t kSector = 512;
constexpr std::uint8_t kWildcard = 0x2A;  // '*' in a signature matches any byte
constexpr std::size_t kMaxPendingStarts = 1 << 20;

bool matchesAt(const std::uint8_t* data, const std::uint8_t* signature, std::size_t length) {
    for (std::size_t k = 0; k < length; ++k)
        if (signature[k] != kWildcard && data[k] != signature[k]) return false;
    return true;
}

// First position p in [from, to) where `signature` stands; the signature may reach past `to` (the buffer
// always holds one sector more than is searched). `buffer.size()` when there is none.
std::size_t findSignature(const std::vector<std::uint8_t>& buffer, std::size_t from, std::size_t to,
                          const std::vector<std::uint8_t>& signature) {
    const std::size_t length = signature.size();
    if (length > buffer.size()) return buffer.size();
    to = std::min(to, buffer.size() - length + 1);
    const std::uint8_t* data = buffer.data();
    for (std::size_t p = from; p < to; ++p) {
        if (signature[0] != kWildcard) {
            const void* hit = std::memchr(data + p, signature[0], to - p);
            if (!hit) break;
            p = static_cast<std::size_t>(static_cast<const std::uint8_t*>(hit) - data);
        }
        if (matchesAt(data + p, signature.data(), length)) return p;
    }
    return buffer.size();
}

std::uint64_t alignUp(std::uint64_t value) { return (value + kSector - 1) / kSector * kSector; }

}  // namespace

const char* validationLabel(CarveValidation validation) {
    switch (validation) {
        case CarveValidation::Validated: return "validated";
        case CarveValidation::Damaged: return "damaged";
        case CarveValidation::NotChecked: break;
    }
    return "not checked";
}

bool CarvingEngine::addDefinitions(std::vector<SignatureDefinition> definitions) {
    if (definitions_.size() + definitions.size() > 256) return false;
    for (SignatureDefinition& d : definitions) {
        d.definitionId = static_cast<std::uint8_t>(definitions_.size());
        definitions_.push_back(std::move(d));
    }
    return true;
}

bool CarvingEngine::buildMatchTable() {
    try {
        startEntries_.clear();
        for (std::size_t i = 0; i < definitions_.size(); ++i) {
            const SignatureDefinition& d = definitions_[i];
            MatchEntry entry;
            // One byte would match nearly everywhere; such a signature never matches. Signatures that do not
            // fit in a sector cannot be compared with one.
            if (d.startSignature.size() < 2 || d.startSignature.size() > sizeof entry.bytes ||
                d.startSignatureOffset < 0 ||
                d.startSignatureOffset + d.startSignature.size() > kSector)
                continue;
            entry.length = static_cast<std::uint8_t>(d.startSignature.size());
            entry.definition = static_cast<std::uint16_t>(i);
            entry.offset = static_cast<std::uint16_t>(d.startSignatureOffset);
            std::memcpy(entry.bytes, d.startSignature.data(), entry.length);
            startEntries_.push_back(entry);
        }
        indexStartEntries();
        pendingStarts_.assign(definitions_.size(), {});
        endSearchFrom_.assign(definitions_.size(), 0);
        return true;
    } catch (const std::bad_alloc&) {
        return false;
    }
}

void CarvingEngine::prepareTree() {
    TreeItemId top = kNoTreeItem;
    if (tree_) top = tree_->insertItem(kNoTreeItem, "RAW RECOVERY ", TreeIcon::Folder);
    for (std::size_t i = 0; i < definitions_.size(); ++i) {
        SignatureDefinition& d = definitions_[i];
        categoryCounts_[d.category] = 0;
        if (!tree_) continue;
        const auto earlier = std::find_if(definitions_.begin(), definitions_.begin() + static_cast<std::ptrdiff_t>(i),
                                          [&](const SignatureDefinition& e) { return e.category == d.category; });
        d.categoryItem = earlier != definitions_.begin() + static_cast<std::ptrdiff_t>(i)
                             ? earlier->categoryItem
                             : tree_->insertItem(top, d.category, TreeIcon::Folder);
    }
    if (tree_) tree_->expandItem(top);
}

bool CarvingEngine::carveVolume(const std::string& outputPath) {
    outputPath_ = outputPath;
    if (!buildMatchTable()) {
        reporting_.inform("not properly initialized");
        return false;
    }
    prepareTree();
    // Whole files are read about once more by their checks; twice the volume and a GiB leave room for damage.
    checkBytesLeft_ = 2 * volumeSize_ + (1ULL << 30);
    const std::uint64_t blocks = (volumeSize_ + kBlockSize - 1) / kBlockSize;
    const auto progressEnd = static_cast<std::uint32_t>(std::min<std::uint64_t>(blocks, UINT32_MAX));
    reporting_.setRange(0, 1000);
    reporting_.setRange(0, progressEnd);

    // One sector more than a block: a signature that begins in a block's last sector is compared whole.
    std::vector<std::uint8_t> buffer;
    try {
        buffer.resize(kBlockSize + kSector);
    } catch (const std::bad_alloc&) {
    }
    next_ = 0;
    // Unstored parts read as zeros: jumping over them finds the same files unless a signature matches zeros.
    const bool readZeros = !reader_ || signaturesMatchZeros();
    UnstoredSkip unstored(
        [this, readZeros](std::uint64_t offset, std::uint64_t limit) {
            if (!reader_) return StoredRun{true, limit};
            const StoredRun run = reader_->storedRun(offset, limit);
            // Zeros may then hold a file's start and are read; what cannot be read at all is still jumped.
            return readZeros && !run.unreadable ? StoredRun{true, run.length} : run;
        },
        volumeSize_);
    for (std::uint64_t b = 0; b < blocks && !buffer.empty(); ++b) {
        next_ = std::max(next_, unstored.next(std::max(next_, b * kBlockSize), kSector));
        b = std::max(b, next_ / kBlockSize);
        if (b >= blocks) break;
        reporting_.setPosition(static_cast<std::uint32_t>(std::min<std::uint64_t>(b, UINT32_MAX)));
        if (stop_.stopNow()) break;
        const std::uint64_t blockStart = b * kBlockSize;
        const std::uint64_t blockEnd = std::min(blockStart + kBlockSize, volumeSize_);
        if (next_ >= blockEnd) continue;  // skipped as part of a file found earlier
        readBlock(blockStart, buffer);
        bool stopped = false;
        while (next_ < blockEnd) {
            if (stop_.stopNow()) {
                stopped = true;
                break;
            }
            examineSector(buffer, blockStart, next_ - blockStart);
        }
        if (stopped) break;
    }
    reporting_.setPosition(progressEnd);
    skippedBytes_ = unstored.skippedBytes();
    if (skippedBytes_) reporting_.setStatus(unstoredSkipText(skippedBytes_));
    for (std::size_t d = 0; d < definitions_.size(); ++d) settleLeftoverStarts(d);
    startEntries_.clear();
    reporting_.inform("done..");
    return true;
}

void CarvingEngine::readBlock(std::uint64_t blockStart, std::vector<std::uint8_t>& buffer) {
    const std::size_t wanted = static_cast<std::size_t>(std::min<std::uint64_t>(buffer.size(), volumeSize_ - blockStart));
    std::fill(buffer.begin() + static_cast<std::ptrdiff_t>(wanted), buffer.end(), 0);
    // Unreadable sectors come back as zeros; the scan goes on over them.
    if (!reader_) {
        std::fill(buffer.begin(), buffer.end(), 0);
        return;
    }
    reader_->readAt(blockStart, buffer.data(), wanted);
}

void CarvingEngine::indexStartEntries() {
    firstByteIndex_.clear();
    allWildcardEntries_.clear();
    for (std::size_t i = 0; i < startEntries_.size(); ++i) {
        const MatchEntry& e = startEntries_[i];
        const auto* first = std::find_if(e.bytes, e.bytes + e.length, [](std::uint8_t b) { return b != kWildcard; });
        if (first == e.bytes + e.length) {
            allWildcardEntries_.push_back(static_cast<std::uint16_t>(i));
            continue;
        }
        const auto position = static_cast<std::uint16_t>(e.offset + (first - e.bytes));
        auto group = std::find_if(firstByteIndex_.begin(), firstByteIndex_.end(),
                                  [&](const FirstByteIndex& g) { return g.position == position; });
        if (group == firstByteIndex_.end()) {
            firstByteIndex_.emplace_back();
            group = firstByteIndex_.end() - 1;
            group->position = position;
        }
        group->entries[*first].push_back(static_cast<std::uint16_t>(i));  // in table order
    }
}

bool CarvingEngine::signaturesMatchZeros() const {
    const std::uint8_t zeros[kSector] = {};
    for (const MatchEntry& e : startEntries_)
        if (matchesAt(zeros + e.offset, e.bytes, e.length)) return true;
    for (const SignatureDefinition& d : definitions_)
        if (d.endSignature.size() >= 2 && (d.endSignature.size() > kSector ||
                                           matchesAt(zeros, d.endSignature.data(), d.endSignature.size())))
            return true;
    return false;
}

int CarvingEngine::matchStart(const std::uint8_t* window) const {
    // The first entry in table order that matches wins, as if every entry were compared in turn.
    std::size_t best = startEntries_.size();
    auto firstMatch = [&](const std::vector<std::uint16_t>& candidates) {
        for (const std::uint16_t i : candidates) {
            if (i >= best) return;
            const MatchEntry& e = startEntries_[i];
            if (matchesAt(window + e.offset, e.bytes, e.length)) {
                best = i;
                return;
            }
        }
    };
    for (const FirstByteIndex& group : firstByteIndex_) firstMatch(group.entries[window[group.position]]);
    firstMatch(allWildcardEntries_);
    return best < startEntries_.size() ? startEntries_[best].definition : -1;
}

void CarvingEngine::examineSector(const std::vector<std::uint8_t>& buffer, std::uint64_t blockStart, std::uint64_t o) {
    const std::uint64_t at = blockStart + o;
    next_ = at + kSector;
    if (const int found = matchStart(buffer.data() + o);
        found >= 0 && !settledByFormatCheck(static_cast<std::size_t>(found), at)) {
        const SignatureDefinition& d = definitions_[static_cast<std::size_t>(found)];
        if (d.hasEndSignature()) {
            auto& pending = pendingStarts_[static_cast<std::size_t>(found)];
            // A signature that matches nearly every sector with no end in sight must not fill the memory.
            if (pending.size() >= kMaxPendingStarts) settleLeftoverStarts(static_cast<std::size_t>(found));
            if (!pending.empty() && pending.back().nextStart == 0) pending.back().nextStart = at;
            pending.push_back({at, 0});
            endSearchFrom_[static_cast<std::size_t>(found)] =
                at + static_cast<std::uint64_t>(d.startSignatureOffset) + d.startSignature.size();
        } else if (!d.usesSizeField()) {
            record(static_cast<std::size_t>(found), at, d.approxFileSize);
            const std::uint64_t skip =
                d.skipSize > static_cast<std::int64_t>(kSector) ? static_cast<std::uint64_t>(d.skipSize) / kSector * kSector : kSector;
            // A skip ends with the block: the next block is examined from its start.
            next_ = std::min(at + skip, blockStart + kBlockSize);
        } else {
            carveBySizeField(d, buffer.data() + o, at);
        }
    }
    searchEnds(buffer, blockStart, o);
}

bool CarvingEngine::settledByFormatCheck(std::size_t definition, std::uint64_t at) {
    const SignatureDefinition& d = definitions_[definition];
    if (d.formatCheck == FormatCheck::None || !reader_) return false;
    // A volume full of starts whose ends never come (hostile or badly damaged) would have every check read its
    // whole window; past the budget the signatures decide, as for a check that cannot.
    if (checkBytesLeft_ == 0) return false;
    std::uint64_t limit = volumeSize_ - at;
    if (d.approxFileSize > 0) limit = std::min(limit, static_cast<std::uint64_t>(d.approxFileSize));
    CandidateBytes bytes(*reader_, at, limit);
    const CheckOutcome outcome = runFormatCheck(d.formatCheck, bytes);
    checkBytesLeft_ -= std::min(checkBytesLeft_, bytes.bytesRead());
    switch (outcome.verdict) {
        case CheckVerdict::Rejected: ++dropped_; return true;
        case CheckVerdict::Undecided: return false;
        case CheckVerdict::Confirmed: break;
    }
    record(definition, at, static_cast<std::int64_t>(outcome.length), true);
    // Files inside this one (a thumbnail, a picture in a document, a member of an archive) are part of it.
    next_ = std::max(next_, alignUp(at + outcome.length));
    return true;
}

void CarvingEngine::carveBySizeField(const SignatureDefinition& d, const std::uint8_t* window, std::uint64_t at) {
    const Bytes sector(window, kSector);
    if (d.sizeFieldOffset < 0 || d.sizeFieldLength > 8 ||
        !fits(sector, static_cast<std::uint64_t>(d.sizeFieldOffset), static_cast<std::uint64_t>(d.sizeFieldLength)))
        return;
    std::uint64_t size = 0;
    for (std::int32_t i = 0; i < d.sizeFieldLength; ++i)
        size |= std::uint64_t{sector[static_cast<std::size_t>(d.sizeFieldOffset + i)]} << (8 * i);
    if (size == 0 || size > static_cast<std::uint64_t>(std::numeric_limits<std::int64_t>::max() / 2)) return;
    const std::int64_t length = static_cast<std::int64_t>(size) + (d.sizeIncludesHeader ? 0 : d.headerSize);
    if (length <= 0 || (d.approxFileSize > 0 && length > d.approxFileSize)) return;  // not a believable size
    const std::size_t index = static_cast<std::size_t>(&d - definitions_.data());
    record(index, at, length);
    // The file's own sectors hold no other file's start.
    next_ = std::max(next_, alignUp(at + static_cast<std::uint64_t>(length)));
}

void CarvingEngine::searchEnds(const std::vector<std::uint8_t>& buffer, std::uint64_t blockStart, std::uint64_t o) {
    const std::uint64_t at = blockStart + o;
    for (std::size_t i = 0; i < definitions_.size(); ++i) {
        std::vector<PendingStart>& pending = pendingStarts_[i];
        if (pending.empty()) continue;
        const SignatureDefinition& d = definitions_[i];
        const std::size_t length = d.endSignature.size();
        std::uint64_t from = std::max(at, endSearchFrom_[i]);
        while (length >= 2 && !pending.empty() && from < at + kSector) {
            const std::size_t p = findSignature(buffer, static_cast<std::size_t>(from - blockStart),
                                                static_cast<std::size_t>(o + kSector), d.endSignature);
            if (p >= buffer.size()) break;
            const std::uint64_t end = blockStart + p + length + static_cast<std::uint64_t>(d.endTrailerLength);
            const std::uint64_t start = pending.back().start;
            pending.pop_back();
            record(i, start, static_cast<std::int64_t>(end - start));
            from = blockStart + p + length;
            endSearchFrom_[i] = from;
        }
        // The newest pending start is out of reach once any end found from here on would make the file larger
        // than its largest expected size: settle the stack instead of searching on.
        if (!pending.empty() && d.approxFileSize > 0 &&
            at + kSector - pending.back().start > static_cast<std::uint64_t>(d.approxFileSize))
            settleLeftoverStarts(i);
    }
}

void CarvingEngine::settleLeftoverStarts(std::size_t definition) {
    std::vector<PendingStart>& pending = pendingStarts_[definition];
    const std::int64_t approx = definitions_[definition].approxFileSize;
    // Oldest first: each runs up to the start found after it, the newest up to its approximate size.
    for (const PendingStart& p : pending) {
        const std::int64_t length = p.nextStart ? static_cast<std::int64_t>(p.nextStart - p.start) : approx;
        if (length > 0) record(definition, p.start, length);
    }
    pending.clear();
}

void CarvingEngine::record(std::size_t definition, std::uint64_t start, std::int64_t length, bool validated) {
    SignatureDefinition& d = definitions_[definition];
    // Nothing past the scanned area belongs to the volume; no file is larger than its largest expected size.
    if (d.approxFileSize > 0) length = std::min(length, d.approxFileSize);
    if (start < volumeSize_) length = std::min<std::int64_t>(length, static_cast<std::int64_t>(volumeSize_ - start));
    length = std::max<std::int64_t>(length, 0);
    const std::string name = std::to_string(start) + " ." + d.extension;
    const std::int64_t count = ++categoryCounts_[d.category];
    if (tree_ && d.categoryItem != kNoTreeItem) {
        tree_->setItemText(d.categoryItem, d.category + " (" + std::to_string(count) + ")");
        tree_->insertItem(d.categoryItem, name, TreeIcon::File, TreeColour::Normal, results_.size());
    }
    const CarveValidation validation = validated                           ? CarveValidation::Validated
                                       : d.formatCheck != FormatCheck::None ? CarveValidation::Damaged
                                                                            : CarveValidation::NotChecked;
    results_.push_back({start, length, static_cast<std::uint16_t>(definition), name, validation});
    if (observer_) observer_(results_.back());
}

}  // namespace halvard
