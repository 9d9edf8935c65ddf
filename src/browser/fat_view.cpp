#include "browser/fat_view.h"

#include <new>

#include "fs/fat/fat64_class.h"
#include "fs/fat/fat_class.h"

namespace halvard {

FatView::FatView(std::unique_ptr<FatFamilyEngine> engine) : engine_(std::move(engine)) {}

bool FatView::parse(const ParseContext& context, ParseMode mode) {
    if (mode != ParseMode::Standard) return false;
    FatFamilyEngine& e = *engine_;
    e.treeControl = context.tree;
    e.reporting = context.reporting;
    e.stop = context.stop;
    e.rootName = context.rootName;
    e.formattedDriveFlag = context.formattedDrive ? 1 : 0;
    try {
        e.attachReader();
        if (!e.parseStandard()) {
            context.reporting.inform(e.notInFormatText());
            return false;
        }
    } catch (const std::bad_alloc&) {
        // A damaged volume can claim more entries than memory holds.
        return false;
    }
    if (context.tree) placeholderPass(*context.tree);
    return true;
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

FileSaveResult FatView::saveFile(EntryId entry, const std::string& hostPath) {
    FileSaveResult result;
    if (entry >= engine_->recordCount()) {
        result.error = "no such entry";
        return result;
    }
    try {
        const FatSaveResult r = engine_->saveFile(static_cast<std::size_t>(entry), hostPath);
        result.written = r.written;
        result.damaged = r.damaged;
        result.bytes = r.bytes;
        result.error = r.error;
        result.diskFull = r.diskFull;
    } catch (const std::bad_alloc&) {
        result.error = "out of memory";
    }
    return result;
}

std::unique_ptr<VolumeView> makeFatView(readWriteInterface& reader, const VolumeRecord& volume,
                                        const std::string& type) {
    std::unique_ptr<FatFamilyEngine> engine;
    if (type == "fat12")
        engine = std::make_unique<Fat16Class>(reader, volume, true);
    else if (type == "fat16" || type == "fat")
        engine = std::make_unique<Fat16Class>(reader, volume);
    else if (type == "fat32")
        engine = std::make_unique<Fat32Class>(reader, volume);
    else if (type == "fat64" || type == "exfat")
        engine = std::make_unique<Fat64Class>(reader, volume);
    if (!engine) return nullptr;
    return std::make_unique<FatView>(std::move(engine));
}

}  // namespace halvard
