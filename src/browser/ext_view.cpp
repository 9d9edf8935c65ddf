#include "browser/ext_view.h"

#include <new>

#include "browser/placeholder_pass.h"
#include "browser/engine_adapter.h"

namespace halvard {

namespace {

SpecialKind specialKind(const ExtEntry& e) {
    switch (e.mode & 0xF000) {
    case 0x2000: return SpecialKind::characterDevice;
    case 0x6000: return SpecialKind::blockDevice;
    case 0x1000: return SpecialKind::fifo;
    case 0xC000: return SpecialKind::socket;
    default: return SpecialKind::none;
    }
}

}  // namespace

bool ExtView::parse(const ParseContext& context, ParseMode mode) {
    if (mode != ParseMode::Standard) return false;
    try {
        return runParse(context);
    } catch (const std::bad_alloc&) {
        // A damaged superblock can claim more inodes than memory holds.
        return false;
    }
}

bool ExtView::runParse(const ParseContext& context) {
    wireEngine(engine_, context);
    if (engine_.volumeSize() == 0 || !engine_.readSuperblock() || !engine_.readGroupDescriptors()) return false;
    engine_.collectInodes();
    engine_.readJournal();
    engine_.walkFolders();
    engine_.fillRootEntries();
    if (context.tree) insertPlaceholders(*context.tree, engine_.rootItem(), *this);
    return true;
}

std::vector<EntryId> ExtView::topLevel() const { return children(kExtRootKey); }

std::vector<EntryId> ExtView::children(EntryId folder) const {
    if (folder > 0xFFFFFFFFULL) return {};
    const auto keys = engine_.childKeys(static_cast<std::int64_t>(folder));
    return {keys.begin(), keys.end()};
}

bool ExtView::hasChildren(EntryId folder) const { return !children(folder).empty(); }

std::string ExtView::name(EntryId entry) const {
    const ExtEntry* e = engine_.entry(static_cast<std::int64_t>(entry));
    return e ? e->name : std::string();
}

bool ExtView::isFolder(EntryId entry) const {
    const ExtEntry* e = engine_.entry(static_cast<std::int64_t>(entry));
    return e && e->isFolder();
}

bool ExtView::isDeleted(EntryId entry) const {
    const ExtEntry* e = engine_.entry(static_cast<std::int64_t>(entry));
    return e && e->removed;
}

std::string ExtView::entryIdText(EntryId entry) const {
    const ExtEntry* e = engine_.entry(static_cast<std::int64_t>(entry));
    return std::to_string(e ? e->inode : 0);
}

EntryDetails ExtView::details(EntryId entry) const {
    EntryDetails d;
    const ExtEntry* e = engine_.entry(static_cast<std::int64_t>(entry));
    if (!e) return d;
    d.name = e->name;
    d.folder = e->isFolder();
    d.deleted = e->removed;
    d.size = e->size;
    d.sizeText = sizeText(static_cast<std::int64_t>(e->size));
    // A removed name whose inode went to another file has no times of its own.
    if (entry != kExtRootKey && e->inodeDescribes) {
        d.created = localCalendarTime(e->changeTime);
        d.accessed = localCalendarTime(e->accessTime);
        d.modified = localCalendarTime(e->modifyTime);
        d.attributes = ExtEngine::permissionText(e->inodeMode);
    }
    if (e->removed) {
        static const char* const kTexts[] = {"yes", "partly", "no"};
        d.recoverable = kTexts[static_cast<int>(engine_.recoverable(static_cast<std::uint32_t>(entry)))];
    }
    if (e->isSymlink()) d.target = engine_.linkTarget(static_cast<std::uint32_t>(entry));
    d.special = specialKind(*e);
    return d;
}

bool ExtView::skipWhenSaving(EntryId entry) const {
    const ExtEntry* e = engine_.entry(static_cast<std::int64_t>(entry));
    return e && e->isSpecial();
}

std::string ExtView::skipNote(EntryId entry) const {
    const ExtEntry* e = engine_.entry(static_cast<std::int64_t>(entry));
    if (!e || !e->isSpecial()) return {};
    return std::string(specialKindText(specialKind(*e))) + ", which has no content to save";
}

std::unique_ptr<FileContent> ExtView::openContent(EntryId entry) {
    if (entry > 0xFFFFFFFFULL) return refusedContent("inode not readable");
    return engine_.openExtContent(static_cast<std::uint32_t>(entry));
}

std::unique_ptr<VolumeView> makeExtView(const VolumeRecord& volume) {
    return std::make_unique<ExtView>(volume);
}

}  // namespace halvard
