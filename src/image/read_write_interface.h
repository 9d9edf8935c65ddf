#pragma once
// The virtual disk of an image, as the device every other part reads through. Callers address the disk as the
// guest saw it, by byte offsets; each format's reader maps them to their place in the image file (or its parent's),
// and blocks the image never allocated read as zeros.
#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "common/sinks.h"
#include "common/status.h"
#include "image/device.h"
#include "image/image_file.h"
#include "image/stored_run.h"

namespace halvard {

inline constexpr std::uint64_t kSectorSize = 512;

// Geometry the user typed on the image page (0 keeps the image's own value), and how a VHDX is opened.
struct ImageOverrides {
    std::int64_t userDiskSize = 0;            // bytes
    std::uint32_t userBlockSize = 0;          // bytes
    std::uint32_t userLogicalSectorSize = 0;  // bytes
    bool replayLog = true;                    // lay a VHDX's pending log over it (in memory)
    std::string parentPath;                   // a differencing disk's parent, instead of the one its locator names
    bool forceParent = false;                 // read through a parent whose data-write GUID does not match
    std::string snapshot;                     // qcow2: the internal snapshot to read (name or ID), not the current state
    // A differencing image whose parent is not found opens all the same, without it, so that its own headers can be
    // described (what it holds of its own; what it leaves to the parent is not there). Only for describing.
    bool openWithoutParent = false;
};

// A differencing image's parent that was not found: the name the image gives it, the places looked at, and the
// sentence that says so.
struct MissingParent {
    std::string named;
    std::vector<std::string> lookedFor;
    std::string text;
};

// Where one sector of the virtual disk lives.
struct SectorMapping {
    enum class State { BeyondMap, Unallocated, Allocated };
    State state = State::BeyondMap;
    std::uint64_t fileOffset = 0;  // of the sector's first byte, when Allocated
    const ImageFile* source = nullptr;  // the file it lies in, when not the reader's own (a differencing parent)
    // Sectors from this one on that map the same way and, when allocated, lie back to back in the file
    // (at least 1). Lets a read serve them with one file read.
    std::uint64_t runSectors = 1;
};

class DiskReader : public Device {
public:

    // Opens the image and builds `blockMap`. A failure says why; its text is also shown through the message sink
    // when one is set. What an open that succeeds noticed (a damaged table, a forced parent) the readers keep as
    // notes (`parentNotes()` and each format's own).
    virtual Status open(const std::string& path) = 0;

    // Sectors of unallocated blocks read as zeros; a part beyond the block map, or a failed or short read of the
    // image file, makes the read false (those bytes are zeros). Safe from several threads: the readers that keep
    // caches guard them.
    bool readAt(std::uint64_t offset, void* buffer, std::size_t length) const override;
    std::uint64_t size() const override { return diskBytes(); }
    std::string description() const override;
    // The image format's name ("VHDX"), for the description.
    virtual const char* formatName() const { return "disk image"; }

    // Where a sector of the virtual disk lives (`source` filled in), for a child image reading through this one.
    SectorMapping locate(std::uint64_t sector) const {
        SectorMapping mapping = mapSector(sector);
        if (!mapping.source) mapping.source = &file_;
        return mapping;
    }

    // What a reader cannot tell and offsets outside the disk count as stored: a caller then reads them as it would
    // without asking. Places that cannot be read (past the image's tables or its file's end) count as stored and
    // unreadable, the whole stretch in one answer, so that a scan passes over them in one step.
    StoredRun storedRun(std::uint64_t diskOffset, std::uint64_t limit) const override;
    // One answer of the map there, neighbours of its kind not joined: what a child asks of its parent. The child
    // joins the answers itself; a parent joining them too would look past each of its runs, throw that look away,
    // and be asked it again, at every level of a chain.
    StoredRun storedAnswer(std::uint64_t diskOffset, std::uint64_t limit) const;
    // How many of the `length` bytes from `diskOffset` on the image stores and can read.
    std::uint64_t storedBytes(std::uint64_t diskOffset, std::uint64_t length) const;

    // The file that holds the `length` bytes at disk offset `diskOffset` as they are, back to back, and where they
    // start in it; none when they are not one such stretch (zeros, a parent's blocks elsewhere, compressed data,
    // several pieces). Lets a copy hand them to the kernel.
    struct FileStretch {
        const ImageFile* file = nullptr;
        std::uint64_t offset = 0;
    };
    virtual std::optional<FileStretch> fileStretch(std::uint64_t diskOffset, std::uint64_t length) const;

    // How many bytes the disk holds: its sectors, unless its last sector is only partly there (a flat file of an
    // odd length), which copies of the whole disk then end with.
    virtual std::uint64_t diskBytes() const { return totalSectors * kSectorSize; }

    // The sector size the guest used (partition tables count in it); reads still address 512-byte sectors.
    std::uint64_t logicalSectorSize() const override { return kSectorSize; }

    std::vector<std::uint64_t> blockMap;
    std::uint64_t imageFileSize = 0;
    // Virtual disk size / 512 as `open` found it (after the overrides); the application copies it.
    std::uint64_t totalSectors = 0;

    void setOverrides(const ImageOverrides& overrides) { overrides_ = overrides; }
    void setMessageSink(MessageSink* messages) { messages_ = messages; }
    // The images this one is opened as the parent of (nearest first), so that its own parents see loops and depth.
    void setChainBelow(std::vector<std::string> chain) { chainBelow_ = std::move(chain); }
    // The system's reason behind the last failed open, when there is one ("No such file or directory").
    const std::string& failureDetail() const { return failureDetail_; }
    // The parents a differencing image reads through, nearest first (empty for an image without a parent), and what
    // was noticed about them on the way.
    const std::vector<std::string>& parentChain() const { return parentChain_; }
    const std::vector<std::string>& parentNotes() const { return parentNotes_; }
    // Set when the image was opened without its parent because none was found (ImageOverrides::openWithoutParent).
    const std::optional<MissingParent>& missingParent() const { return missingParent_; }

protected:
    // Maps one virtual-disk sector.
    virtual SectorMapping mapSector(std::uint64_t sector) const = 0;

    // One answer of the map at `diskOffset` (inside the disk), at least 1 byte long and looking no further than
    // `limit` bytes (a parent is asked about no more than its child was); storedRunOnDisk joins them.
    // By default from mapSector: allocated sectors are stored unless their file has a hole there.
    virtual StoredRun storedRunAt(std::uint64_t diskOffset, std::uint64_t limit) const;

    // Records a failure of `open`: `text` is the user's message, `detail` the system's reason if any.
    Status fail(const std::string& text, const std::string& detail = {});

    // The first step of every open: the image file and its size, with nothing left of an earlier open.
    // `invalidText` is the message when the file cannot be opened.
    Status openImageFile(const std::string& path, const char* invalidText = "Invalid handle ...");
    // Forgets the parent of an earlier open.
    void dropParent();
    // The chain below a parent of this image, opened from `childPath`: this image, then its own children.
    std::vector<std::string> chainForParent(const std::string& childPath) const;
    // A parent that is not the one this image was made from (`text` says how): refused unless the user forces it,
    // then read through with a note.
    Status acceptMismatchedParent(const std::string& text);
    // The parent was not found: refuses the open with `missing.text`, unless the overrides open the image without it.
    Status parentNotFound(MissingParent missing);
    // Reads through `parent` from now on; its chain follows `path` in this image's chain.
    void adoptParent(std::unique_ptr<DiskReader> parent, const std::string& path);
    // Where a sector this image leaves to its parent lives, with the run cut at `runLimit` sectors. A child larger
    // than its parent reads zeros past the parent's end.
    SectorMapping parentMapping(std::uint64_t sector, std::uint64_t runLimit) const;

    ImageFile file_;
    std::string imagePath_;  // as opened, for the description
    ImageOverrides overrides_;
    MessageSink* messages_ = nullptr;
    std::vector<std::string> chainBelow_;
    std::unique_ptr<DiskReader> parent_;
    std::vector<std::string> parentChain_;
    std::vector<std::string> parentNotes_;
    std::optional<MissingParent> missingParent_;

private:
    std::string failureDetail_;
};

}  // namespace halvard
