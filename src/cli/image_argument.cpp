#include "cli/image_argument.h"

namespace halvard::cli {

void addImageArgument(CLI::App& command, std::string& path, ImageOverrides& overrides) {
    command.add_option("IMAGE", path, "Virtual disk image (VHDX, VHD, VDI, VMDK, qcow2 or flat raw)")->required();
    command.add_flag_callback("--no-log-replay", [&overrides] { overrides.replayLog = false; },
                              "VHDX: read the image as it stands, without its pending log (the log is never "
                              "written back either way)");
    command.add_option("--parent", overrides.parentPath,
                       "Differencing VHDX, qcow2: the parent (backing) image, instead of the one the image names");
    command.add_option("--snapshot", overrides.snapshot,
                       "qcow2: read the internal snapshot with this name or ID instead of the current state");
    command.add_flag("--force-parent", overrides.forceParent,
                     "Differencing VHDX: read through a parent whose data-write GUID does not match the child's");
}

}  // namespace halvard::cli
