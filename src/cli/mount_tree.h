#pragma once
// What a mounted volume shows: the engine's tree as host names (the names `save` would write, duplicates numbered
// the same way), deleted entries only when asked, and each open file's content read through its engine.
#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <sys/stat.h>
#include <unordered_map>
#include <vector>

#include "browser/volume_view.h"

namespace halvard::cli {

struct MountChild {
    std::string name;  // host name, unique in its folder
    EntryId entry;
};

class MountTree {
public:
    MountTree(VolumeView& view, bool showDeleted);

    // The folder's children as shown; kVolumeRoot is the mount's root.
    const std::vector<MountChild>& listing(EntryId folder);
    // The entry at a "/"-joined path ("/" is kVolumeRoot), nullopt when nothing is there.
    std::optional<EntryId> resolve(std::string_view path);

    bool isFolder(EntryId entry) const;
    // A link's target (ext symbolic links, NTFS reparse points), empty when the entry is none.
    std::string linkTarget(EntryId entry) const;
    // Mode (read-only), size, times; for an open file the size its content has.
    struct stat attributes(EntryId entry) const;

    // Opens the file's content as the engine saves it. Returns the errno to give (0: fine).
    int open(EntryId entry);
    // Reads from an open file. A file with unreadable parts (written as zeros) answers EIO at its end instead of
    // the end of file, so that a copy of it fails rather than passing for whole. Returns bytes or -errno.
    long read(EntryId entry, char* buffer, std::size_t size, std::uint64_t offset);
    void release(EntryId entry);

private:
    struct OpenContent {
        std::unique_ptr<FileContent> content;
        unsigned users = 0;
        bool damaged = false;           // found damaged so far
        std::uint64_t readThrough = 0;  // everything before this was read (and its damage noted)
    };
    // Notes what a read gave; false when it gave nothing.
    static bool note(OpenContent& open, std::uint64_t offset, const ContentRead& got);

    // A folder's children in order, and by name for path lookups (a large folder is looked up once per entry).
    struct Listing {
        std::vector<MountChild> children;
        std::unordered_map<std::string_view, EntryId> byName;  // views into `children`' names
    };
    const Listing& folderListing(EntryId folder);

    VolumeView& view_;
    bool showDeleted_;
    std::map<EntryId, Listing> listings_;
    std::map<EntryId, OpenContent> open_;
};

}  // namespace halvard::cli
