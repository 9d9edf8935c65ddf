#pragma once
// The block-file engines' save outcome as the browsing interface reports it.
#include "browser/volume_view.h"
#include "fs/block_file.h"

namespace halvard {

inline FileSaveResult toFileSaveResult(const SaveOutcome& outcome) {
    FileSaveResult result;
    result.written = outcome.written;
    result.damaged = outcome.damaged;
    result.bytes = outcome.bytes;
    result.error = outcome.error;
    result.diskFull = outcome.diskFull;
    return result;
}

}  // namespace halvard
