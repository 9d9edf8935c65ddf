#include "browser/ntfs_view.h"

#include <new>

#include "browser/engine_adapter.h"
#include "browser/placeholder_pass.h"
#include "common/host_files.h"

namespace halvard {

NtfsView::NtfsView(const VolumeRecord& volume) : engine_(volume) {}

bool NtfsView::parse(const ParseContext& context, ParseMode mode) {
    // The advanced road needs the candidate and cluster size the user picked from the finder's lists.
    if (mode == ParseMode::Advanced && !candidate_) return false;
    try {
        return runParse(context, mode);
    } catch (const std::bad_alloc&) {
        // A damaged volume can claim more records than memory holds.
        return false;
    }
}

std::optional<AdvancedFindings> NtfsView::findStructures(const ParseContext& context, std::uint64_t limit) {
    wireEngine(engine_, context);
    std::vector<std::uint64_t> offsets;
    try {
        engine_.readBootSector();
        engine_.findMftEntries(limit < 1 ? 3 : limit);
        for (const NtfsEntry& candidate : engine_.mftCandidates) offsets.push_back(candidate.recordOffset);
    } catch (const std::bad_alloc&) {
        // Keep what was found.
    }
    candidate_.reset();
    return ntfsFindings(offsets);
}

Status NtfsView::selectAdvanced(const AdvancedSelection& selection) {
    candidate_.reset();
    if (!selection.found || *selection.found >= engine_.mftCandidates.size()) return Status::failure(kNoEntryFound);
    std::string error;
    // Clusters of NTFS reach 2 MiB.
    const auto sectors = clusterChoice(selection.clusterSize, false, 4096, error);
    if (!sectors) return Status::failure(error);
    candidate_ = *selection.found;
    clusterSectors_ = *sectors;
    return {};
}

bool NtfsView::runParse(const ParseContext& context, ParseMode mode) {
    engine_.resetParse();
    wireEngine(engine_, context);

    if (engine_.treeControl) engine_.insertRootItem();
    engine_.parseMode = mode;
    engine_.showStreams = context.namedStreams;
    if (mode == ParseMode::Advanced) {
        // The records the finder collected are dropped; the MFT is read along the chosen candidate's runs.
        engine_.freeEntryNames();
        engine_.entries.clear();
        engine_.takeMftRunFromCandidate(*candidate_);
        engine_.clusterSize = static_cast<std::uint64_t>(clusterSectors_) * 512;
    } else if (mode == ParseMode::Standard) {
        engine_.readBootSector();
        context.reporting.setStatus(" ParsingBasedOnMFT is going on....");
        engine_.locateMft();
    } else {
        engine_.readBootSector();
        context.reporting.setStatus(" scanning for mft entries in deep mode ....");
        engine_.deepScanMft();
    }
    engine_.loadMftRecords();
    engine_.buildEntryTree();
    if (context.tree) insertPlaceholders(*context.tree, engine_.rootItem(), *this);
    return true;
}

std::vector<EntryId> NtfsView::topLevel() const { return engine_.topLevelEntries(); }

std::vector<EntryId> NtfsView::children(EntryId folder) const { return engine_.childEntries(folder); }

bool NtfsView::hasChildren(EntryId folder) const {
    const auto& entries = engine_.entries;
    if (folder >= entries.size()) return false;
    const std::int64_t first = entries[folder].firstChild;
    return first > 0 && static_cast<std::uint64_t>(first) < entries.size();
}

std::string NtfsView::name(EntryId entry) const { return engine_.entryName(entry); }

bool NtfsView::isFolder(EntryId entry) const {
    return entry < engine_.entries.size() && engine_.entries[entry].isFolder();
}

bool NtfsView::isDeleted(EntryId entry) const {
    return entry < engine_.entries.size() && engine_.entries[entry].deleted();
}

namespace {
std::optional<CalendarTime> localTime(std::uint64_t fileTime) {
    return localCalendarTime(unixSecondsFromFileTime(fileTime));
}
}  // namespace

EntryDetails NtfsView::details(EntryId entry) const {
    EntryDetails d;
    if (entry >= engine_.entries.size()) return d;
    d.name = engine_.entryName(entry);
    d.folder = isFolder(entry);
    d.deleted = isDeleted(entry);
    if (const NtfsListFacts* facts = engine_.keptListFacts(entry)) {
        d.size = facts->size;
        if (facts->timesKnown) {
            d.created = localTime(facts->created);
            d.accessed = localTime(facts->accessed);
            d.modified = localTime(facts->modified);
        }
        d.attributes = NtfsEngine::attributeLetters(facts->attributeFlags);
    } else if (!engine_.isSynthetic(entry)) {
        // One read of the record serves the size, the times and the attribute letters.
        std::vector<std::uint8_t> record;
        engine_.readEntryRecord(entry, record);
        if (!record.empty()) {
            d.size = engine_.entrySize(entry, record);
            const NtfsFileTimes times = NtfsEngine::fileTimes(record);
            if (times.known) {
                d.created = localTime(times.created);
                d.accessed = localTime(times.accessed);
                d.modified = localTime(times.modified);
            }
            d.attributes = times.attributes;
            // A stream is content of its own, not the link its file is.
            if (!engine_.isStream(entry)) d.target = NtfsEngine::reparseTarget(record);
            if (!d.target.empty()) d.attributes += " -> " + d.target;
        }
    }
    d.sizeText = sizeText(static_cast<std::int64_t>(d.size));
    return d;
}

std::unique_ptr<FileContent> NtfsView::openContent(EntryId entry) { return engine_.openNtfsContent(entry); }

ParseTexts NtfsView::parseTexts() const {
    ParseTexts texts;
    texts.selected = "ntfs partition selected....";
    return texts;
}

bool NtfsView::skipWhenSaving(EntryId entry) const {
    // Its $Bad stream maps the whole volume as one sparse run: saving it would write a volume of zeros.
    const std::string n = name(entry);
    return n == "$BadClus" || n.rfind("$BadClus:", 0) == 0;
}

bool NtfsView::descendWhenSaving(EntryId entry) const { return name(entry) != "."; }

std::string NtfsView::entryIdText(EntryId entry) const {
    if (entry >= engine_.entries.size()) return std::to_string(entry);
    return std::to_string(engine_.entries[entry].recordNumber);
}

std::unique_ptr<VolumeView> makeNtfsView(const VolumeRecord& volume) {
    return std::make_unique<NtfsView>(volume);
}

}  // namespace halvard
