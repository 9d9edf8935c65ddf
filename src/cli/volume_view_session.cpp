#include "cli/volume_view_session.h"

#include <algorithm>

#include "cli/image_argument.h"
#include "cli/terminal_reporting.h"
#include "image/image_kind.h"

namespace halvard::cli {

void addVolumeChoice(CLI::App& command, VolumeOptions& options) {
    addImageArgument(command, options.image, options.overrides);
    command.add_option("--volume", options.volume, "VOLUME number of 'halvard volumes', or custom:FS:START:SIZE_MB")
        ->required();
    addScanOptions(command, options.scan);
}

void addVolumeOptions(CLI::App& command, VolumeOptions& options) {
    addVolumeChoice(command, options);
    command
        .add_option("--mode", options.mode,
                    "standard; advanced (NTFS, FAT, exFAT: structures found by searching the volume, see "
                    "'halvard candidates'); or deep (NTFS: every MFT record found on the volume)")
        ->check(CLI::IsMember({"standard", "advanced", "deep"}));
    command.add_option("--candidate", options.advanced.candidate,
                       "Advanced mode: which found $MFT record or FAT copy to use (default 0, the first)");
    command.add_option("--sectors-per-cluster", options.advanced.sectorsPerCluster,
                       "Advanced mode: sectors of 512 bytes per cluster (default: the first size offered)")
        ->check(CLI::Range(1u, 1u << 16));
    command.add_option("--heap", options.advanced.heap,
                       "Advanced mode, exFAT: which found cluster heap offset to use (default 0, the first)");
    command.add_flag("--formatted", options.formatted,
                     "The drive was formatted: FAT and exFAT files are read as one piece from their first cluster");
}

namespace {

// The finders, then the user's picks (or the first of each list).
bool chooseAdvanced(VolumeView& view, const VolumeOptions& options, const ParseContext& context,
                    const Streams& streams, int& status) {
    const AdvancedOptions& picks = options.advanced;
    const auto findings = view.findStructures(context, std::max<std::uint64_t>(3, picks.candidate + 1));
    if (!findings) {
        printError(streams, "volume " + options.volume + " has no advanced recovery (NTFS, FAT and exFAT have)");
        status = kExitUsage;
        return false;
    }
    AdvancedSelection selection;
    selection.found = picks.candidate;
    selection.heap = picks.heap;
    if (!picks.sectorsPerCluster) {
        if (!findings->clusterSizes.empty()) selection.clusterSize = findings->clusterSizes.front();
    } else if (findings->clusterSizeIsShift) {
        std::uint32_t shift = 0;
        while ((1u << shift) < *picks.sectorsPerCluster) ++shift;
        selection.clusterSize = (1u << shift) == *picks.sectorsPerCluster ? std::to_string(shift) : "not a power of two";
    } else {
        selection.clusterSize = std::to_string(*picks.sectorsPerCluster);
    }
    const Status picked = view.selectAdvanced(selection);
    if (picked) return true;
    const std::string& refusal = picked.message();
    const bool noneFound = picks.candidate >= findings->found.size() ||
                           (findings->heapList && picks.heap >= findings->heaps.size());
    printError(streams, "volume " + options.volume + ": " + refusal +
                            (noneFound ? " (" + std::to_string(findings->found.size()) + " found)" : ""));
    status = noneFound ? kExitFailed : kExitUsage;
    return false;
}

}  // namespace

std::optional<ParsedVolume> openVolumeView(const VolumeOptions& options, const Streams& streams, int& status) {
    status = kExitFailed;
    OpenedImage opened = openImage(options.image, options.overrides);
    if (!opened.reader) {
        printError(streams, opened.error);
        return std::nullopt;
    }
    ParsedVolume parsed;
    parsed.reader = std::move(opened.reader);
    auto volume = selectVolume(parsed.reader, options.volume, options.scan, streams);
    if (!volume) {
        status = options.volume.rfind("custom:", 0) == 0 ? kExitUsage : kExitFailed;
        return std::nullopt;
    }
    parsed.volume = *volume;
    parsed.view = createVolumeView(parsed.volume);
    if (!parsed.view) {
        printError(streams, "volume " + options.volume + " holds " + parsed.volume.fileSystem +
                                ", which cannot be read (yet); use --volume custom:FS:START:SIZE_MB to read it as "
                                "another file system");
        return std::nullopt;
    }
    status = kExitOk;
    return parsed;
}

std::optional<ParsedVolume> openParsedVolume(const VolumeOptions& options, const Streams& streams, int& status,
                                             const StopPoll& stop) {
    auto parsed = openVolumeView(options, streams, status);
    if (!parsed) return std::nullopt;
    status = kExitFailed;
    TerminalReporting terminal(streams.err, streams.errIsTerminal);
    ParseContext context;
    context.reporting = {&terminal, &terminal, nullptr};
    context.formattedDrive = options.formatted;
    context.namedStreams = options.streams;
    context.stop = stop;
    ParseMode mode = ParseMode::Standard;
    if (options.mode == "deep") mode = ParseMode::Deep;
    if (options.mode == "advanced") {
        mode = ParseMode::Advanced;
        const bool chosen = chooseAdvanced(*parsed->view, options, context, streams, status);
        terminal.finish();
        if (!chosen) return std::nullopt;
    }
    if (!parsed->view->parse(context, mode)) {
        terminal.finish();
        if (stop.stopNow()) {
            printError(streams, "stopped while reading volume " + options.volume);
            return std::nullopt;
        }
        const std::string why = parsed->view->damageNote();
        printError(streams, "volume " + options.volume + " is not a readable " + parsed->volume.fileSystem + " volume" +
                                (why.empty() ? "" : ": " + why));
        return std::nullopt;
    }
    terminal.finish();
    if (const std::string note = parsed->view->damageNote(); !note.empty())
        printError(streams, "volume " + options.volume + ": " + note);
    status = kExitOk;
    return parsed;
}

}  // namespace halvard::cli
