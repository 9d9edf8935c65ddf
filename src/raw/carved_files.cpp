#include "raw/carved_files.h"

#include <algorithm>

#include "common/host_files.h"

namespace halvard {

namespace {

constexpr std::size_t kChunk = 1048576;

// Copies one result; false when the host file failed (the message is shown). `unreadable` is set when a read
// of the image failed.
bool writeOne(const Device& reader, const CarveResult& result, const std::string& path,
              const Reporting& reporting, StopPoll stop, std::vector<std::uint8_t>& buffer, bool& unreadable,
              bool& stopped) {
    HostFile out;
    if (!out.create(path)) {
        reporting.inform("Cannot create " + path + ": " + out.error());
        return false;
    }
    std::uint64_t done = 0;
    const auto total = static_cast<std::uint64_t>(std::max<std::int64_t>(result.length, 0));
    while (done < total) {
        if (stop.stopNow()) {
            stopped = true;
            break;
        }
        const std::size_t n = static_cast<std::size_t>(std::min<std::uint64_t>(kChunk, total - done));
        std::fill_n(buffer.begin(), n, 0);
        if (result.startOffset < 0 || !reader.readAt(static_cast<std::uint64_t>(result.startOffset) + done, buffer.data(), n))
            unreadable = true;
        if (!out.write(buffer.data(), n)) {
            reporting.inform("Cannot write " + path + ": " + out.error());
            return false;
        }
        done += n;
    }
    if (!out.close()) {
        reporting.inform("Cannot write " + path + ": " + out.error());
        return false;
    }
    return true;
}

}  // namespace

CarvedFilesOutcome writeCarvedFiles(const Device& volume, const std::vector<CarveResult>& chosen,
                                    const std::string& folder, const Reporting& reporting, StopPoll stop) {
    CarvedFilesOutcome outcome;
    std::vector<std::uint8_t> buffer(kChunk);
    const auto count = static_cast<std::uint32_t>(std::min<std::size_t>(chosen.size(), UINT32_MAX));
    reporting.setRange(0, count);
    for (std::size_t i = 0; i < chosen.size() && !outcome.stopped; ++i) {
        reporting.setPosition(static_cast<std::uint32_t>(std::min<std::size_t>(i, UINT32_MAX)));
        if (stop.stopNow()) {
            outcome.stopped = true;
            break;
        }
        reporting.setStatus("Saving " + chosen[i].name);
        bool unreadable = false;
        if (writeOne(volume, chosen[i], uniqueHostPath(hostPathFor(folder, chosen[i].name)), reporting, stop, buffer, unreadable,
                     outcome.stopped)) {
            ++outcome.filesWritten;
            if (unreadable) ++outcome.unreadableFiles;
        } else {
            ++outcome.filesFailed;
        }
    }
    reporting.setPosition(count);
    return outcome;
}

}  // namespace halvard
