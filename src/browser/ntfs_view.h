#pragma once
// The NTFS engine behind the browser's interface: its parse in the order the NTFS page runs it, its child chains,
// list details and file saving. An EntryId is the engine's entry index (the MFT record number in standard mode).
//
// Threads:
//  - parse() runs on the page's worker. It inserts tree items only at its very end, when every entry is complete
//    and linked, and after that it only adds placeholder items.
//  - While parse() runs, other threads may call topLevel/children/hasChildren/name/isFolder/isDeleted/details/
//    saveFile only for entries whose tree items they have seen (or, without a tree, not before parse returned):
//    the entry table does not change any more once items exist.
//  - details() and saveFile() read the disk; the engine serialises its reads, so they may run beside each other
//    and beside any later reading the worker does through this view.
#include <memory>

#include "browser/volume_view.h"
#include "fs/ntfs/ntfs_engine.h"

namespace halvard {

class NtfsView final : public VolumeView {
public:
    explicit NtfsView(const VolumeRecord& volume);

    bool parse(const ParseContext& context, ParseMode mode) override;

    std::vector<EntryId> topLevel() const override;
    std::vector<EntryId> children(EntryId folder) const override;
    bool hasChildren(EntryId folder) const override;

    std::string name(EntryId entry) const override;
    bool isFolder(EntryId entry) const override;
    bool isDeleted(EntryId entry) const override;
    EntryDetails details(EntryId entry) const override;

    std::unique_ptr<FileContent> openContent(EntryId entry) override;

    std::vector<EntryId> streamsOf(EntryId entry) const override { return engine_.streamEntriesOf(entry); }
    bool skipWhenSaving(EntryId entry) const override;
    bool descendWhenSaving(EntryId entry) const override;
    std::string entryIdText(EntryId entry) const override;
    std::string saveDoneText() const override { return "Saving process done."; }
    ParseTexts parseTexts() const override;
    std::string savingSizeText(EntryId entry) const override { return details(entry).sizeText; }
    bool confirmsFileSave() const override { return false; }
    void renameEntry(EntryId entry, const std::string& name) override { engine_.renameEntry(entry, name); }

    std::optional<AdvancedFindings> findStructures(const ParseContext& context, std::uint64_t limit) override;
    Status selectAdvanced(const AdvancedSelection& selection) override;

    NtfsEngine& engine() { return engine_; }
    const NtfsEngine& engine() const { return engine_; }

private:
    bool runParse(const ParseContext& context, ParseMode mode);
    NtfsEngine engine_;
    // The advanced parse's picks: a $MFT candidate and the sectors per cluster.
    std::optional<std::uint64_t> candidate_;
    std::uint32_t clusterSectors_ = 0;
};

std::unique_ptr<VolumeView> makeNtfsView(const VolumeRecord& volume);

}  // namespace halvard
