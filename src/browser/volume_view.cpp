#include "browser/volume_view.h"

#include <new>

namespace halvard {

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
