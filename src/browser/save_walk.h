#pragma once
// Saving a folder of a parsed volume to a host folder: count the files, recreate the sub-folders, have the
// engine write each file. Shared by the browser page and the command line.
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "browser/volume_view.h"

namespace halvard {

// What a save did, for the final message and the command line's summary.
struct SaveSummary {
    std::uint64_t files = 0;        // files written
    std::uint64_t folders = 0;      // sub-folders created (or already there)
    std::uint64_t bytes = 0;        // content bytes written
    std::uint64_t damaged = 0;      // files written with unreadable parts as zeros
    std::uint64_t skipped = 0;      // files the engine passes over ("$BadClus", device nodes)
    std::vector<std::string> skipNotes;  // "host path: why", for skipped entries the engine says why of
    std::uint64_t uninitialized = 0;  // files written up to their initialized size, zeros after it
    std::vector<std::string> failures;  // "host path: reason", one per file or folder that could not be written
    // "host path: reason", one per removed file known to be lost (its blocks or inode gone): nothing this save
    // could have written, so not a failure.
    std::vector<std::string> unrecoverable;
    // "name from the image -> host path", one per file or folder written under another name than its own: a
    // name the host cannot take as it is (slashes, control characters, "..", over-long), or one already taken.
    std::vector<std::string> renamed;
    bool diskFull = false;          // the target ran out of space; the walk stopped there
    bool stopped = false;           // the user stopped it
};

// Reports of the walk: the status line ("saving File  " + path), the file-size line ("File size: " + size text)
// and the progress (0..count, one step per file).
struct SaveReporting {
    Reporting reporting;
    StatusSink* fileSizeLine = nullptr;
    // Called with the host path of every file written (checksum lists read it back); may be empty.
    std::function<void(const std::string& hostPath)> fileWritten;
};

// Number of files below `folder`, sub-folders included.
std::uint64_t countFiles(const VolumeView& view, EntryId folder, const StopPoll& stop = {});

// Writes the folder's content (not the folder itself) into `outputFolder`, which must exist.
SaveSummary saveFolder(VolumeView& view, EntryId folder, const std::string& outputFolder,
                       const SaveReporting& reporting = {}, const StopPoll& stop = {});

// Writes one file into `outputFolder`, with the streams that sit beside it (VolumeView::streamsOf).
SaveSummary saveOneFile(VolumeView& view, EntryId file, const std::string& outputFolder,
                        const SaveReporting& reporting = {});

}  // namespace halvard
