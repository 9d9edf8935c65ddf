#pragma once
// Copies the whole virtual disk into a flat raw image file, 5 MiB at a time, unallocated blocks as zeros.
#include <cstdint>
#include <string>

#include "common/sinks.h"
#include "common/worker.h"
#include "image/read_write_interface.h"

namespace halvard {

inline constexpr std::uint64_t kExportChunkSize = 5 * 1024 * 1024;

// The output name for exporting `imagePath` into `folder`: "<folder>/<file name>.img", or "<n><file name>.img"
// with n = 1, 2, ... while that exists; "Recovered_diskimg.img" (numbered the same way) when the path has no
// file name.
std::string chooseExportPath(const std::string& folder, const std::string& imagePath);

enum class ExportOutcome {
    Completed,           // every byte written
    Stopped,             // the user stopped it; the partial file stays
    CreateFailed,        // "File cannot be Created"
    InsufficientSpace,   // the target has less free space than the disk's size; nothing written, no file left
    FileTooLarge,        // the target's file system allows no file as large as the disk; nothing written, no file left
    WriteFailed,         // disk full or another write error; the partial file stays
};

struct ExportResult {
    ExportOutcome outcome = ExportOutcome::Completed;
    std::uint64_t totalBytes = 0;
    std::uint64_t bytesDone = 0;
    // Sectors that could not be read from the image (written as zeros); the copy goes on past them.
    std::uint64_t unreadableSectors = 0;
    std::string message;  // the message shown for a failure, empty otherwise
};

// Status line after each chunk: "<done> MB of <total> MB or <done GB> GB of <total GB> GB Saved".
std::string exportProgressText(std::uint64_t bytesDone, std::uint64_t totalBytes);

// Status line when the copy ends.
inline constexpr const char* kExportDoneText = "Image Saved, click next to continue recovery proess.";

// Exports the disk behind `reader` (opened) of `totalSectors` sectors (0: the image file's
// size) into `outputPath`, replacing any file of that name. Checks the target's free space first, so a target
// that is too small fails before anything is copied; zero runs are left as holes. Polls `stop` once per chunk. Messages go through `reporting` as they
// happen; the result tells the outcome. A stopped or failed copy leaves the file as long as what was written.
ExportResult exportDiskImage(const DiskReader& reader, std::uint64_t totalSectors, const std::string& outputPath,
                             const Reporting& reporting, const StopPoll& stop);

}  // namespace halvard
