#pragma once
// Writing carved files: the bytes [start, start + length) of each chosen result, read from the volume's device,
// into one folder under the result's name. Existing files are never
// replaced: a name already taken gets " (1)", " (2)", ... before its extension.
#include <cstdint>
#include <string>
#include <vector>

#include "common/sinks.h"
#include "common/worker.h"
#include "image/device.h"
#include "raw/carving_engine.h"

namespace halvard {

struct CarvedFilesOutcome {
    std::uint64_t filesWritten = 0;
    std::uint64_t filesFailed = 0;     // could not be created or written (the messages said which)
    std::uint64_t unreadableFiles = 0; // written, but some of their sectors could not be read (zeros stand there)
    bool stopped = false;
};

// Progress counts files; the status line names the file being written.
CarvedFilesOutcome writeCarvedFiles(const Device& volume, const std::vector<CarveResult>& chosen,
                                    const std::string& folder, const Reporting& reporting, StopPoll stop);

}  // namespace halvard
