#pragma once
// What a page gives an engine before its parse: the tree to fill (may be null), where to report, the stop flag
// to poll, and the label of the tree's top item.
#include <string>

#include "common/sinks.h"
#include "common/tree_control.h"
#include "common/worker.h"

namespace halvard {

struct EngineWiring {
    TreeControl* treeControl = nullptr;
    Reporting reporting;
    StopPoll stop;
    std::string rootName = "ROOT";
};

}  // namespace halvard
