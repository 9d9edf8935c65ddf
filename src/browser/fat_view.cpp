#include "browser/fat_view.h"

#include <algorithm>
#include <new>

#include "browser/engine_adapter.h"
#include "fs/fat/exfat_engine.h"
#include "fs/fat/fat_engine.h"

namespace halvard {

FatView::FatView(std::unique_ptr<FatFamilyEngine> engine) : engine_(std::move(engine)) {}

void FatView::wire(const ParseContext& context) {
    wireEngine(*engine_, context);
    engine_->formattedDriveFlag = context.formattedDrive ? 1 : 0;
}

std::optional<AdvancedFindings> FatView::findStructures(const ParseContext& context, std::uint64_t limit) {
    wire(context);
    FatFamilyEngine& e = *engine_;
    context.reporting.setStatus(e.kind() == FatKind::ExFat ? "Finding Fat64 entries...." : "Finding Fat entries....");
    try {
        e.attachReader();
        found_ = e.findStructures(limit < 1 ? 3 : static_cast<std::int64_t>(std::min<std::uint64_t>(limit, 1u << 30)));
    } catch (const std::bad_alloc&) {
        found_ = {};
    }
    pick_.reset();
    return fatFindings(e.kind(), found_);
}

Status FatView::selectAdvanced(const AdvancedSelection& selection) {
    pick_.reset();
    if (!selection.found || *selection.found >= found_.fats.size()) return Status::failure(kNoEntryFound);
    const bool exfat = engine_->kind() == FatKind::ExFat;
    std::string error;
    const auto cluster = clusterChoice(selection.clusterSize, exfat, 128, error);
    if (!cluster) return Status::failure(error);
    FatAdvancedPick pick;
    pick.fatPosition = found_.fats[*selection.found];
    pick.clusterValue = *cluster;
    if (exfat) {
        // The heap is the user's own pick from the heap list, not the one beside the chosen FAT.
        if (!selection.heap || *selection.heap >= found_.heaps.size() || found_.heaps[*selection.heap] == 0)
            return Status::failure("No cluster heap was found: the volume's files cannot be placed without it.");
        pick.heapPosition = found_.heaps[*selection.heap];
    }
    pick_ = pick;
    return {};
}

bool FatView::parse(const ParseContext& context, ParseMode mode) {
    if (mode == ParseMode::Deep) return false;
    if (mode == ParseMode::Advanced && !pick_) return false;
    wire(context);
    FatFamilyEngine& e = *engine_;
    try {
        if (mode == ParseMode::Advanced) {
            e.parseAdvanced(*pick_);
        } else {
            e.attachReader();
            if (!e.parseStandard()) {
                context.reporting.inform(e.notInFormatText());
                return false;
            }
        }
    } catch (const std::bad_alloc&) {
        // A damaged volume can claim more entries than memory holds.
        return false;
    }
    if (context.tree) placeholderPass(*context.tree);
    return true;
}

bool FatView::confirmsFileSave() const { return engine_->kind() == FatKind::ExFat; }

ParseTexts FatView::parseTexts() const {
    ParseTexts texts;
    if (engine_->kind() != FatKind::Fat32) texts.done = "Scanning process completed...";
    if (engine_->kind() != FatKind::Fat16) texts.advancedDone = "Scanning process completed...";
    // A rejected boot sector has the engine's own message ("Selected Drive is not in ... Format") and nothing else.
    texts.failed = texts.failedStatus = "";
    return texts;
}

void FatView::placeholderPass(TreeControl& tree) {
    for (TreeItemId item = tree.firstChild(engine_->rootItem()); item != kNoTreeItem; item = tree.nextSibling(item)) {
        const auto data = tree.itemData(item);
        if (data && tree.itemIcon(item) == TreeIcon::Folder && hasChildren(*data))
            tree.insertItem(item, kPlaceholderText, TreeIcon::Placeholder);
    }
}

std::vector<EntryId> FatView::topLevel() const {
    const auto top = engine_->topLevel();
    return {top.begin(), top.end()};
}

std::vector<EntryId> FatView::children(EntryId folder) const {
    if (folder == kVolumeRoot) return topLevel();
    if (folder == 0 || folder >= engine_->recordCount()) return {};
    const auto list = engine_->children(static_cast<std::size_t>(folder));
    return {list.begin(), list.end()};
}

bool FatView::hasChildren(EntryId folder) const {
    if (folder >= engine_->recordCount()) return false;
    return engine_->record(static_cast<std::size_t>(folder)).firstChild > 0;
}

std::string FatView::name(EntryId entry) const {
    return entry < engine_->recordCount() ? engine_->entryName(static_cast<std::size_t>(entry)) : std::string();
}

bool FatView::isFolder(EntryId entry) const {
    return entry < engine_->recordCount() && engine_->isFolder(static_cast<std::size_t>(entry));
}

bool FatView::isDeleted(EntryId entry) const {
    return entry < engine_->recordCount() && engine_->record(static_cast<std::size_t>(entry)).deleted;
}

EntryDetails FatView::details(EntryId entry) const {
    EntryDetails d;
    if (entry >= engine_->recordCount()) return d;
    FatEntryFacts f = engine_->facts(static_cast<std::size_t>(entry));
    d.name = std::move(f.name);
    d.folder = f.folder;
    d.deleted = f.deleted;
    d.size = f.size;
    d.sizeText = sizeText(static_cast<std::int64_t>(f.size));
    d.created = f.created;
    d.accessed = f.accessed;
    d.modified = f.modified;
    d.accessedDateOnly = f.accessDateOnly;
    d.attributes = std::move(f.attributes);
    return d;
}

void FatView::renameEntry(EntryId entry, const std::string& name) {
    if (entry < engine_->recordCount()) engine_->renameEntry(static_cast<std::size_t>(entry), name);
}

std::unique_ptr<FileContent> FatView::openContent(EntryId entry) {
    if (entry >= engine_->recordCount()) return refusedContent("no such entry");
    return engine_->openContent(static_cast<std::size_t>(entry));
}

std::unique_ptr<VolumeView> makeFatView(const VolumeRecord& volume,
                                        const std::string& type) {
    std::unique_ptr<FatFamilyEngine> engine;
    if (type == "fat12")
        engine = std::make_unique<Fat16Engine>(volume, true);
    else if (type == "fat16" || type == "fat")
        engine = std::make_unique<Fat16Engine>(volume);
    else if (type == "fat32")
        engine = std::make_unique<Fat32Engine>(volume);
    else if (type == "fat64" || type == "exfat")
        engine = std::make_unique<ExFatEngine>(volume);
    if (!engine) return nullptr;
    return std::make_unique<FatView>(std::move(engine));
}

}  // namespace halvard
