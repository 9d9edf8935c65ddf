#include "browser/hfs_view.h"

#include <new>

#include "browser/placeholder_pass.h"
#include "browser/engine_adapter.h"
#include "common/texts.h"

namespace halvard {

namespace {

std::vector<EntryId> asEntryIds(const std::vector<std::uint32_t>& ids) { return {ids.begin(), ids.end()}; }

CalendarTime hfsLocalTime(std::uint32_t date) {
    return localCalendarTime(static_cast<std::int64_t>(date) - hfs_format::kHfsEpochOffset);
}

}  // namespace

bool HfsView::parse(const ParseContext& context, ParseMode mode) {
    try {
        const bool done = runParse(context, mode);
        context.reporting.setStatus(done ? "Work Done." : "Work Aborted....");
        return done;
    } catch (const std::bad_alloc&) {
        context.reporting.setStatus("Work Aborted....");
        return false;
    }
}

bool HfsView::runParse(const ParseContext& context, ParseMode mode) {
    wireEngine(engine_, context);
    engine_.insertTopItem();
    if (!engine_.readVolumeHeader()) return false;
    // The overflow extents come first: the catalog itself may continue in them.
    const bool overflowIndexed = engine_.indexExtentsOverflow();
    if (mode == ParseMode::Standard) {
        if (!overflowIndexed || !engine_.readCatalogNodes()) return false;
    } else if (!engine_.scanCatalogLeafNodes()) {
        return false;
    }
    engine_.readCatalogRecords();
    engine_.linkCatalogEntries();
    engine_.fillTopLevel();
    if (context.tree) insertPlaceholders(*context.tree, engine_.topItem(), *this);
    return true;
}

std::vector<EntryId> HfsView::topLevel() const { return asEntryIds(engine_.topLevelIds()); }

std::vector<EntryId> HfsView::children(EntryId folder) const {
    const HfsEntry* e = entry(folder);
    return e ? asEntryIds(engine_.childIds(e->id)) : std::vector<EntryId>{};
}

bool HfsView::hasChildren(EntryId folder) const {
    const HfsEntry* e = entry(folder);
    return e && e->isFolder() && e->firstChild > 0;
}

std::string HfsView::name(EntryId id) const {
    const HfsEntry* e = entry(id);
    return e ? e->name : std::string();
}

bool HfsView::isFolder(EntryId id) const {
    const HfsEntry* e = entry(id);
    return e && e->isFolder();
}

bool HfsView::isDeleted(EntryId id) const {
    const HfsEntry* e = entry(id);
    return e && e->deleted;
}

EntryDetails HfsView::details(EntryId id) const {
    EntryDetails d;
    const HfsEntry* e = entry(id);
    if (!e) return d;
    d.name = e->name;
    d.folder = e->isFolder();
    d.deleted = e->deleted;
    // Folders show no times, permissions or size.
    if (!d.folder) {
        d.size = engine_.contentOf(*e).logicalSize;
        d.created = hfsLocalTime(e->createDate);
        d.accessed = hfsLocalTime(e->accessDate);
        d.modified = hfsLocalTime(e->contentModDate);
        d.attributes = HfsPlusEngine::permissionText(e->fileMode);
    }
    d.sizeText = d.folder ? std::string() : sizeText(static_cast<std::int64_t>(d.size));
    return d;
}

std::unique_ptr<FileContent> HfsView::openContent(EntryId id) {
    const HfsEntry* e = entry(id);
    if (!e) return refusedContent("not a file");
    return engine_.openForkContent(e->id);
}

ParseTexts HfsView::parseTexts() const {
    ParseTexts texts;
    texts.selected = "HFS+ partition selected....";
    texts.done = texts.advancedDone = texts.doneStatus = texts.failed = texts.failedStatus = "";
    return texts;
}

std::unique_ptr<VolumeView> makeHfsView(const VolumeRecord& volume) {
    return std::make_unique<HfsView>(volume);
}

}  // namespace halvard
