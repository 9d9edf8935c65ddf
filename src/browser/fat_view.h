#pragma once
// The FAT12/16, FAT32 and exFAT engines behind the browser's interface: their standard road, their child chains,
// list details and file saving. An EntryId is the index of the entry's record in the engine.
//
// Threads: as for the NTFS view. parse() runs on the page's worker and inserts tree items only when every record
// is complete and linked; saveFile and details may then run on any thread.
#include <memory>

#include "browser/volume_view.h"
#include "fs/fat/fat_family.h"

namespace halvard {

class FatView final : public VolumeView {
public:
    explicit FatView(std::unique_ptr<FatFamilyEngine> engine);

    // The standard road, or the advanced one with the picks kept by selectAdvanced. A refused boot sector is told
    // through the message sink with the engine's text ("Selected Drive is not in Fat32 Format") and ends the
    // standard parse with false; there is no deep road.
    bool parse(const ParseContext& context, ParseMode mode) override;

    std::vector<EntryId> topLevel() const override;
    std::vector<EntryId> children(EntryId folder) const override;
    bool hasChildren(EntryId folder) const override;

    std::string name(EntryId entry) const override;
    bool isFolder(EntryId entry) const override;
    bool isDeleted(EntryId entry) const override;
    EntryDetails details(EntryId entry) const override;

    std::unique_ptr<FileContent> openContent(EntryId entry) override;
    std::string saveDoneText() const override { return engine_->saveDoneText(); }
    ParseTexts parseTexts() const override;
    bool confirmsFileSave() const override;

    // Gives an entry another name (the recycle-bin pass); safe while other threads read names.
    void renameEntry(EntryId entry, const std::string& name) override;

    std::optional<AdvancedFindings> findStructures(const ParseContext& context, std::uint64_t limit) override;
    Status selectAdvanced(const AdvancedSelection& selection) override;

    FatFamilyEngine& engine() { return *engine_; }
    const FatFamilyEngine& engine() const { return *engine_; }

private:
    // Folders among the top-level items get a "..DUMY.." child when they have children.
    void placeholderPass(TreeControl& tree);

    void wire(const ParseContext& context);

    std::unique_ptr<FatFamilyEngine> engine_;
    FatFindings found_;
    std::optional<FatAdvancedPick> pick_;
};

// Views for the file-system texts "fat12", "fat16"/"fat", "fat32" and "fat64"/"exfat" (lower case).
std::unique_ptr<VolumeView> makeFatView(const VolumeRecord& volume,
                                        const std::string& type);

}  // namespace halvard
