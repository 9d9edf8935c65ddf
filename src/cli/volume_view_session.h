#pragma once
// Opening an image, choosing a volume and parsing it: the first steps of every command that works on files.
#include <memory>
#include <optional>
#include <string>

#include "browser/volume_view.h"
#include "cli/volume_selection.h"

namespace halvard::cli {

struct VolumeOptions {
    std::string image;
    ImageOverrides overrides;
    std::string volume;
    ScanOptions scan;
    std::string mode = "standard";
    bool formatted = false;  // the drive was formatted: FAT-family chains are not trusted
};

// Adds IMAGE, --volume, --mode and the scan options to a command.
void addVolumeOptions(CLI::App& command, VolumeOptions& options);

struct ParsedVolume {
    std::unique_ptr<readWriteInterface> reader;
    VolumeRecord volume;
    std::unique_ptr<VolumeView> view;
};

// Opens, selects and parses; prints a one-line error and returns nullopt on failure (`status` tells the exit
// status to use).
std::optional<ParsedVolume> openParsedVolume(const VolumeOptions& options, const Streams& streams, int& status);

}  // namespace halvard::cli
