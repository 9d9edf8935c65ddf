#include "cli/image_argument.h"

namespace halvard::cli {

void addImageArgument(CLI::App& command, std::string& path, ImageOverrides& overrides) {
    command.add_option("IMAGE", path, "Virtual disk image (VHDX, VHD, VDI, VMDK or flat raw)")->required();
    command.add_flag_callback("--no-log-replay", [&overrides] { overrides.replayLog = false; },
                              "VHDX: read the image as it stands, without its pending log (the log is never "
                              "written back either way)");
    command.add_option("--parent", overrides.parentPath,
                       "Differencing VHDX: the parent image, instead of the one its parent locator names");
    command.add_flag("--force-parent", overrides.forceParent,
                     "Differencing VHDX: read through a parent whose data-write GUID does not match the child's");
}

}  // namespace halvard::cli
