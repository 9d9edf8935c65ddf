#pragma once
// How a command names a volume: `--volume N` (the VOLUME number `halvard volumes` shows with the same scan
// options) or `--volume custom:FS:START:SIZE_MB` (a hand-made volume). Shared by every command that works on
// one volume.
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "cli/cli.h"
#include "image/read_write_interface.h"
#include "volume/volume_record.h"

namespace halvard::cli {

struct ScanOptions {
    bool gpt = false;
    bool advanced = false;
    std::int64_t start = 0;
    std::int64_t end = 0;
    bool noSkip = false;
};

// Adds --gpt, --advanced, --start, --end, --no-skip to a command.
void addScanOptions(CLI::App& command, ScanOptions& options);

// Runs the scan the options ask for. Without --gpt, a disk whose sector 1 carries "EFI PART" is walked as GPT all
// the same, and a line on stderr says so. Progress shows on stderr when it is a terminal; Ctrl-C ends the scan,
// and `stopped` (when given) tells whether it did.
std::vector<VolumeRecord> scanVolumes(const DevicePtr& disk, const ScanOptions& options, const Streams& streams,
                                      bool* stopped = nullptr);

// Resolves `--volume`: a number from the scan, or a hand-made volume. On failure prints the error and returns
// nullopt.
std::optional<VolumeRecord> selectVolume(const DevicePtr& disk, const std::string& volume,
                                         const ScanOptions& options, const Streams& streams);

}  // namespace halvard::cli
