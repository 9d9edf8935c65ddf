#pragma once
// What the engines' adapters share: wiring an engine from a parse context.
#include "browser/volume_view.h"
#include "fs/engine_wiring.h"

namespace halvard {

inline void wireEngine(EngineWiring& engine, const ParseContext& context) {
    engine.treeControl = context.tree;
    engine.reporting = context.reporting;
    engine.stop = context.stop;
    engine.rootName = context.rootName;
}

}  // namespace halvard
