#pragma once
// The ext2/3/4 engine behind the browser's interface. An EntryId is the engine's key (one per name); the command
// line shows the inode number. Only the standard mode exists for ext volumes.
//
// Threads: as for the NTFS view; the entry map does not change once tree items exist, and reads are serialised.
#include <memory>

#include "browser/volume_view.h"
#include "fs/ext/ext_engine.h"

namespace halvard {

class ExtView final : public VolumeView {
public:
    explicit ExtView(const VolumeRecord& volume) : engine_(volume) {}

    bool parse(const ParseContext& context, ParseMode mode) override;

    std::vector<EntryId> topLevel() const override;
    std::vector<EntryId> children(EntryId folder) const override;
    bool hasChildren(EntryId folder) const override;

    std::string name(EntryId entry) const override;
    bool isFolder(EntryId entry) const override;
    bool isDeleted(EntryId entry) const override;
    EntryDetails details(EntryId entry) const override;

    std::unique_ptr<FileContent> openContent(EntryId entry) override;
    // Device nodes, FIFOs and sockets hold no content on the volume.
    bool skipWhenSaving(EntryId entry) const override;
    std::string skipNote(EntryId entry) const override;
    std::string damageNote() const override { return engine_.damage(); }
    // The inode number: every name of one file shows the same id.
    std::string entryIdText(EntryId entry) const override;

    const ExtEngine& engine() const { return engine_; }

private:
    bool runParse(const ParseContext& context);

    ExtEngine engine_;
};

std::unique_ptr<VolumeView> makeExtView(const VolumeRecord& volume);

}  // namespace halvard
