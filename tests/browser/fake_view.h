#pragma once
// An in-memory volume for tests of what sits on top of the engines.
#include <map>
#include <string>
#include <vector>

#include "browser/volume_view.h"

namespace halvard::testing {

class FakeView final : public VolumeView {
public:
    struct Entry {
        std::string name;
        bool folder = false;
        bool deleted = false;
        std::string content;
        std::vector<EntryId> children;
        std::optional<CalendarTime> modified;
        bool damaged = false;  // saved with unreadable parts written as zeros
        std::string target;    // a link's target
        SpecialKind special = SpecialKind::none;  // a device node, FIFO or socket: skipped by the save
        std::string lost;      // a removed file known to be lost: why
    };

    EntryId add(EntryId parent, const std::string& name, bool folder, const std::string& content = {},
                bool deleted = false) {
        const EntryId id = entries.size();
        entries.push_back({name, folder, deleted, content, {}, {}, false, {}, SpecialKind::none, {}});
        (parent == kVolumeRoot ? top : entries[parent].children).push_back(id);
        return id;
    }

    bool parse(const ParseContext&, ParseMode) override { return true; }
    std::vector<EntryId> topLevel() const override { return top; }
    std::vector<EntryId> children(EntryId f) const override { return entries.at(f).children; }
    bool hasChildren(EntryId f) const override { return !entries.at(f).children.empty(); }
    std::string name(EntryId e) const override { return entries.at(e).name; }
    bool isFolder(EntryId e) const override { return entries.at(e).folder; }
    bool isDeleted(EntryId e) const override { return entries.at(e).deleted; }
    EntryDetails details(EntryId e) const override {
        EntryDetails d;
        d.name = entries.at(e).name;
        d.folder = entries.at(e).folder;
        d.deleted = entries.at(e).deleted;
        d.size = entries.at(e).content.size();
        d.sizeText = std::to_string(d.size) + " Bytes";
        d.modified = entries.at(e).modified;
        d.target = entries.at(e).target;
        d.special = entries.at(e).special;
        return d;
    }
    std::unique_ptr<FileContent> openContent(EntryId e) override {
        const std::string& content = entries.at(e).content;
        if (!entries.at(e).lost.empty()) return unrecoverableContent(entries.at(e).lost);
        ContentFacts facts;
        facts.damaged = entries.at(e).damaged;
        return memoryContent({content.begin(), content.end()}, std::move(facts));
    }
    FileSaveResult saveFile(EntryId e, const std::string& hostPath) override {
        const FileSaveResult result = VolumeView::saveFile(e, hostPath);
        if (result.written) savedPaths.push_back(hostPath);
        return result;
    }
    bool skipWhenSaving(EntryId e) const override {
        return entries.at(e).name == "$BadClus" || entries.at(e).special != SpecialKind::none;
    }
    std::string skipNote(EntryId e) const override {
        return entries.at(e).special != SpecialKind::none ? specialKindText(entries.at(e).special) : "";
    }
    bool descendWhenSaving(EntryId e) const override { return entries.at(e).name != "."; }
    void renameEntry(EntryId e, const std::string& name) override { entries.at(e).name = name; }

    std::vector<Entry> entries;
    std::vector<EntryId> top;
    std::vector<std::string> savedPaths;
};

}  // namespace halvard::testing
