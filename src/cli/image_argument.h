#pragma once
// The IMAGE argument every command takes, with the options that say how to open it: --no-log-replay (read a
// VHDX as it stands, without laying its pending log over it), --parent FILE (a differencing disk's parent) and
// --force-parent (read through a parent that is not the one the child was made from), --snapshot NAME (a qcow2
// image's internal snapshot).
#include <string>

#include "cli/cli.h"
#include "image/read_write_interface.h"

namespace halvard::cli {

void addImageArgument(CLI::App& command, std::string& path, ImageOverrides& overrides);

}  // namespace halvard::cli
