#include "browser/volume_view.h"

#include <new>

namespace halvard {

const char* specialKindName(SpecialKind kind) {
    switch (kind) {
    case SpecialKind::characterDevice: return "character_device";
    case SpecialKind::blockDevice: return "block_device";
    case SpecialKind::fifo: return "fifo";
    case SpecialKind::socket: return "socket";
    case SpecialKind::none: break;
    }
    return "";
}

const char* specialKindText(SpecialKind kind) {
    switch (kind) {
    case SpecialKind::characterDevice: return "a character device";
    case SpecialKind::blockDevice: return "a block device";
    case SpecialKind::fifo: return "a FIFO";
    case SpecialKind::socket: return "a socket";
    case SpecialKind::none: break;
    }
    return "";
}

FileSaveResult VolumeView::saveFile(EntryId entry, const std::string& hostPath) {
    try {
        const std::unique_ptr<FileContent> content = openContent(entry);
        if (!content) return FileSaveResult{false, false, 0, "no such entry", false, false};
        return saveContent(*content, hostPath);
    } catch (const std::bad_alloc&) {
        FileSaveResult result;
        result.error = "out of memory";
        return result;
    }
}

}  // namespace halvard
