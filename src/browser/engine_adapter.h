#pragma once
// What the adapters of the block-file engines (ext, HFS+) share: wiring an engine from a parse context, and
// turning its save outcome into the browsing interface's.
#include <new>

#include "browser/volume_view.h"
#include "fs/block_file.h"
#include "fs/engine_wiring.h"

namespace halvard {

inline void wireEngine(EngineWiring& engine, const ParseContext& context) {
    engine.treeControl = context.tree;
    engine.reporting = context.reporting;
    engine.stop = context.stop;
    engine.rootName = context.rootName;
}

// Runs an engine's save; a damaged map that asks for more memory than there is fails this file only.
template <typename Save>
FileSaveResult guardedSave(Save&& save) {
    FileSaveResult result;
    try {
        const SaveOutcome outcome = save();
        result.written = outcome.written;
        result.damaged = outcome.damaged;
        result.bytes = outcome.bytes;
        result.error = outcome.error;
        result.diskFull = outcome.diskFull;
        result.uninitializedZeros = outcome.uninitializedZeros;
    } catch (const std::bad_alloc&) {
        result = {};
        result.error = "out of memory";
    }
    return result;
}

}  // namespace halvard
