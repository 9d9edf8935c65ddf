#include "cli/volume_view_session.h"

#include "cli/image_argument.h"
#include "cli/terminal_reporting.h"
#include "image/image_kind.h"

namespace halvard::cli {

void addVolumeOptions(CLI::App& command, VolumeOptions& options) {
    addImageArgument(command, options.image, options.overrides);
    command.add_option("--volume", options.volume, "VOLUME number of 'halvard volumes', or custom:FS:START:SIZE_MB")
        ->required();
    command.add_option("--mode", options.mode, "standard, or deep (every MFT record found on the volume)")
        ->check(CLI::IsMember({"standard", "deep"}));
    command.add_flag("--formatted", options.formatted,
                     "The drive was formatted: FAT and exFAT files are read as one piece from their first cluster");
    addScanOptions(command, options.scan);
}

std::optional<ParsedVolume> openParsedVolume(const VolumeOptions& options, const Streams& streams, int& status) {
    status = kExitFailed;
    OpenedImage opened = openImage(options.image, options.overrides);
    if (!opened.reader) {
        printError(streams, opened.error);
        return std::nullopt;
    }
    ParsedVolume parsed;
    parsed.reader = std::move(opened.reader);
    auto volume = selectVolume(*parsed.reader, options.volume, options.scan, streams);
    if (!volume) {
        status = options.volume.rfind("custom:", 0) == 0 ? kExitUsage : kExitFailed;
        return std::nullopt;
    }
    parsed.volume = *volume;
    parsed.view = createVolumeView(*parsed.reader, parsed.volume);
    if (!parsed.view) {
        printError(streams, "volume " + options.volume + " holds " + parsed.volume.fileSystem +
                                ", which cannot be read (yet); use --volume custom:FS:START:SIZE_MB to read it as "
                                "another file system");
        return std::nullopt;
    }
    TerminalReporting terminal(streams.err, streams.errIsTerminal);
    ParseContext context;
    context.reporting = {&terminal, &terminal, nullptr};
    context.formattedDrive = options.formatted;
    const ParseMode mode = options.mode == "deep" ? ParseMode::Deep : ParseMode::Standard;
    if (!parsed.view->parse(context, mode)) {
        terminal.finish();
        printError(streams, "volume " + options.volume + " is not a readable " + parsed.volume.fileSystem + " volume");
        return std::nullopt;
    }
    terminal.finish();
    status = kExitOk;
    return parsed;
}

}  // namespace halvard::cli
