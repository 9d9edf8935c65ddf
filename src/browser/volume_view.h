#pragma once
// The one face every file-system engine shows to the browser page, the save walk, the search and the command
// line. Each engine has one adapter implementing it; nothing else switches on the file-system type.
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "browser/advanced_findings.h"
#include "common/sinks.h"
#include "common/status.h"
#include "common/texts.h"
#include "common/tree_control.h"
#include "common/worker.h"
#include "fs/file_content.h"
#include "fs/parse_mode.h"
#include "image/device.h"
#include "volume/volume_record.h"

namespace halvard {

// An engine's handle of one entry (NTFS: the entry's index). Stored as the data of its tree item.
using EntryId = std::uint64_t;

// The volume's top item ("ROOT"): a folder whose children are the view's top level. Engines never use this id.
inline constexpr EntryId kVolumeRoot = ~0ULL;

// Entries that are neither file, folder nor link: nodes whose content is not on the volume (ext).
enum class SpecialKind { none, characterDevice, blockDevice, fifo, socket };

// The kind's name in JSON ("character_device", "block_device", "fifo", "socket"); empty for none.
const char* specialKindName(SpecialKind kind);
// The kind as a sentence part for people ("a character device", ...).
const char* specialKindText(SpecialKind kind);

// What a list row shows of an entry, and what the command line prints.
struct EntryDetails {
    std::string name;
    bool folder = false;
    bool deleted = false;
    std::uint64_t size = 0;  // the byte count the engine's size text shows
    std::string sizeText;
    std::optional<CalendarTime> created, accessed, modified;  // in the zone the engine shows them
    std::string attributes;                                   // the engine's attribute letters
    bool accessedDateOnly = false;  // the engine keeps no time of day for the last access (FAT): show the date
    std::string recoverable;  // removed files of engines that can tell: "yes", "partly" or "no"; else empty
    std::string target;  // where a link, junction or mount point leads (shown, never followed); empty: none
    SpecialKind special = SpecialKind::none;  // a device node, FIFO or socket: no content to save
};

// The access column of a list row: the time text, or the date text alone when the engine keeps no time of day.
inline std::string accessedText(const EntryDetails& d) {
    if (!d.accessed) return {};
    return d.accessedDateOnly ? dateText(*d.accessed) : timeText(*d.accessed);
}

// The outcome of writing one file.
using FileSaveResult = SaveOutcome;

// Where a parse reports: the tree to fill (may be null), progress and status, and the stop flag it polls.
struct ParseContext {
    TreeControl* tree = nullptr;
    Reporting reporting;
    StopPoll stop;
    std::string rootName = "ROOT";
    // "Is Drive Formated..?": the FAT family then trusts no cluster chain.
    bool formattedDrive = false;
    // NTFS: each named $DATA stream becomes an entry "file:stream" beside its file; without it they stay hidden.
    bool namedStreams = false;
};

// What the browser page says about a parse: when it starts, when it ends, and when the engine refused the volume.
struct ParseTexts {
    std::string selected;                               // status as the parse starts; empty: none
    std::string done = "Scanning process completed.";   // message box when it ends; empty: no box
    std::string advancedDone = "Scanning process completed.";  // the same after a parse in advanced mode
    std::string doneStatus = "Processing done...";      // status after it; empty: the parse's own last status stays
    std::string failed = "The selected volume could not be read in this recovery mode.";  // empty: no box
    std::string failedStatus = "Processing done...";  // status after a failed parse; empty: the last one stays
};

class VolumeView {
public:
    virtual ~VolumeView() = default;

    // Runs the engine's parse in the given mode (on the caller's thread: the page's worker). Fills the tree's
    // top level when the context has a tree. Returns false when the volume is not of the engine's kind.
    virtual bool parse(const ParseContext& context, ParseMode mode) = 0;

    // The entries under the volume's top item, in the engine's order (the orphan folder among them).
    virtual std::vector<EntryId> topLevel() const = 0;
    // The children of a folder, in the engine's child-chain order.
    virtual std::vector<EntryId> children(EntryId folder) const = 0;
    virtual bool hasChildren(EntryId folder) const = 0;

    virtual std::string name(EntryId entry) const = 0;
    virtual bool isFolder(EntryId entry) const = 0;
    virtual bool isDeleted(EntryId entry) const = 0;
    // Everything a list row shows (reads the entry's record where the engine keeps its times there).
    virtual EntryDetails details(EntryId entry) const = 0;

    // The file's content as a readable stream (a folder's: empty). Reads may run on any thread once the parse
    // has returned, as details() does.
    virtual std::unique_ptr<FileContent> openContent(EntryId entry) = 0;
    // Writes the file's content to `hostPath` (created anew) and sets its time stamps. A damaged map that asks for
    // more memory than there is fails this file only.
    virtual FileSaveResult saveFile(EntryId entry, const std::string& hostPath);

    // The stream entries that sit beside a file (parsed with ParseContext::namedStreams), in the file's order.
    virtual std::vector<EntryId> streamsOf(EntryId) const { return {}; }

    // Entries the save walk passes over (NTFS: "$BadClus"), and folders it does not descend into (NTFS: ".").
    virtual bool skipWhenSaving(EntryId) const { return false; }
    // Why a skipped entry is passed over, for a note in the save's report; empty: no note.
    virtual std::string skipNote(EntryId) const { return {}; }
    virtual bool descendWhenSaving(EntryId) const { return true; }

    // The engine's own id of an entry, for the command line's JSON (NTFS: the MFT record number).
    virtual std::string entryIdText(EntryId entry) const { return std::to_string(entry); }

    // Message shown when a save ends ("Saving process done." or "Saving process done").
    virtual std::string saveDoneText() const { return "Saving process done"; }

    virtual ParseTexts parseTexts() const { return {}; }
    // What the last parse found damaged: why it refused the volume, or how it went on (a copy read in place of a
    // damaged table). Empty when nothing.
    virtual std::string damageNote() const { return {}; }

    // The file-size line while a folder is saved: the size in whole KiB followed by " kb" (NTFS: its size text).
    virtual std::string savingSizeText(EntryId entry) const { return std::to_string(details(entry).size / 1024) + " kb"; }
    // Whether a file saved on its own is confirmed with "file is dumped in path  :  ..." (NTFS and FAT12/16/32 say
    // nothing).
    virtual bool confirmsFileSave() const { return true; }

    // Whether a list or tree shows the entry as deleted (red) when the folder holding it is opened by a click on
    // its label; `folderShownDeleted` tells how that folder itself is shown. Engines whose deleted folders mark
    // their content as deleted too answer from both.
    virtual bool shownDeleted(EntryId entry, bool /*folderShownDeleted*/) const { return isDeleted(entry); }

    // Gives an entry another name (the recycle-bin pass: recycled files take the name they had before). Engines
    // that cannot rename keep the name.
    virtual void renameEntry(EntryId /*entry*/, const std::string& /*name*/) {}

    // The advanced road (NTFS, FAT12/16, FAT32, exFAT): runs the engine's structure finders on the caller's
    // thread (the advanced options page's worker), at most `limit` finds each (3 when below 1). Nullopt when the
    // engine has no advanced road.
    virtual std::optional<AdvancedFindings> findStructures(const ParseContext& /*context*/, std::uint64_t /*limit*/) {
        return std::nullopt;
    }
    // Checks the user's picks from the finders' lists and keeps them for the next parse in advanced mode. A failure
    // says why they cannot be used (nothing is kept then).
    virtual Status selectAdvanced(const AdvancedSelection& /*selection*/) {
        return Status::failure("This file system has no advanced recovery.");
    }
};

// Children and folder test that also know the volume's top item.
std::vector<EntryId> childrenOf(const VolumeView& view, EntryId folder);
bool isFolderEntry(const VolumeView& view, EntryId entry);

// Creates the view for a volume's file-system text (compared without regard to case), reading through the
// volume's device. Null when no engine reads that type.
std::unique_ptr<VolumeView> createVolumeView(const VolumeRecord& volume);

}  // namespace halvard
