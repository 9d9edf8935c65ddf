#pragma once
// Opening an image, choosing a volume and parsing it: the first steps of every command that works on files.
#include <memory>
#include <optional>
#include <string>

#include "browser/volume_view.h"
#include "cli/volume_selection.h"

namespace halvard::cli {

// The advanced road's picks: indexes into the finders' lists and a cluster size (nullopt: the first offered).
struct AdvancedOptions {
    std::size_t candidate = 0;
    std::optional<std::uint32_t> sectorsPerCluster;
    std::size_t heap = 0;
};

struct VolumeOptions {
    std::string image;
    ImageOverrides overrides;
    std::string volume;
    ScanOptions scan;
    std::string mode = "standard";
    bool formatted = false;  // the drive was formatted: FAT-family chains are not trusted
    bool streams = false;    // NTFS named streams as entries "file:stream" beside their files (ls, save)
    AdvancedOptions advanced;
};

// Adds IMAGE, --volume and the scan options to a command.
void addVolumeChoice(CLI::App& command, VolumeOptions& options);
// Adds IMAGE, --volume, --mode with its advanced picks, --formatted and the scan options to a command.
void addVolumeOptions(CLI::App& command, VolumeOptions& options);

struct ParsedVolume {
    std::shared_ptr<DiskReader> reader;
    VolumeRecord volume;
    std::unique_ptr<VolumeView> view;
};

// Opens and selects, and makes the volume's view without parsing; prints a one-line error and returns nullopt on
// failure (`status` tells the exit status to use).
std::optional<ParsedVolume> openVolumeView(const VolumeOptions& options, const Streams& streams, int& status);

// Opens, selects and parses; prints a one-line error and returns nullopt on failure (`status` tells the exit
// status to use). `stop` ends the parse early (Ctrl-C): what was read so far is kept.
std::optional<ParsedVolume> openParsedVolume(const VolumeOptions& options, const Streams& streams, int& status,
                                             const StopPoll& stop = {});

}  // namespace halvard::cli
