#pragma once
// The HFS+ engine behind the browser's interface. An EntryId is the catalog node ID. Standard mode walks the
// catalog B-tree; the other modes scan the volume for catalog leaf nodes.
//
// Threads: as for the NTFS view; the maps do not change once tree items exist, and reads are serialised.
#include <memory>

#include "browser/volume_view.h"
#include "fs/hfsplus/hfs_plus_engine.h"

namespace halvard {

class HfsView final : public VolumeView {
public:
    explicit HfsView(const VolumeRecord& volume) : engine_(volume) {}

    bool parse(const ParseContext& context, ParseMode mode) override;

    std::vector<EntryId> topLevel() const override;
    std::vector<EntryId> children(EntryId folder) const override;
    bool hasChildren(EntryId folder) const override;

    std::string name(EntryId entry) const override;
    bool isFolder(EntryId entry) const override;
    bool isDeleted(EntryId entry) const override;
    EntryDetails details(EntryId entry) const override;

    std::unique_ptr<FileContent> openContent(EntryId entry) override;
    // The parse sets its own closing status ("Work Done." or "Work Aborted...."); no message box either way.
    ParseTexts parseTexts() const override;

    const HfsPlusEngine& engine() const { return engine_; }

private:
    bool runParse(const ParseContext& context, ParseMode mode);
    const HfsEntry* entry(EntryId id) const { return engine_.entry(id > 0xFFFFFFFFULL ? -1 : static_cast<std::int64_t>(id)); }

    HfsPlusEngine engine_;
};

std::unique_ptr<VolumeView> makeHfsView(const VolumeRecord& volume);

}  // namespace halvard
