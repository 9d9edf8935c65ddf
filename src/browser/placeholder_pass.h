#pragma once
// Makes the folders of the tree's first level expandable before their children are read into the tree.
#include "browser/volume_view.h"

namespace halvard {

// Every folder among `topItem`'s children that has children gets one "..DUMY.." child.
void insertPlaceholders(TreeControl& tree, TreeItemId topItem, const VolumeView& view);

}  // namespace halvard
