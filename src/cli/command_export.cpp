// halvard export IMAGE OUT: the whole virtual disk as a flat raw image, unallocated blocks as zeros.
#include <filesystem>
#include <memory>

#include "cli/image_argument.h"
#include "cli/cli.h"
#include "cli/interrupt_stop.h"
#include "cli/terminal_reporting.h"
#include "image/disk_export.h"
#include "image/image_kind.h"

namespace halvard::cli {

namespace {

struct ExportOptions {
    std::string image;
    ImageOverrides overrides;
    std::string output;
    bool force = false;
};

bool sameFile(const std::string& a, const std::string& b) {
    std::error_code ec;
    return std::filesystem::equivalent(a, b, ec) && !ec;
}

int runExport(const ExportOptions& options, const Streams& s) {
    namespace fs = std::filesystem;
    std::error_code ec;
    std::string output = options.output;
    if (fs::is_directory(output, ec)) {
        output = chooseExportPath(output, options.image);
    } else if (fs::exists(output, ec)) {
        if (sameFile(output, options.image)) {
            printError(s, output + " is the image itself; the image is never written to");
            return kExitUsage;
        }
        if (!options.force) {
            printError(s, output + " already exists; choose another name, a folder, or pass --force");
            return kExitUsage;
        }
    }

    OpenedImage opened = openImage(options.image, options.overrides);
    if (!opened.reader) {
        printError(s, opened.error);
        return kExitFailed;
    }
    const DiskReader& reader = *opened.reader;

    TerminalReporting terminal(s.err, s.errIsTerminal);
    ExportResult result;
    {
        InterruptStop interrupt;  // Ctrl-C stops the copy after the chunk in progress, as the Stop button does
        result = exportDiskImage(reader, reader.totalSectors, output, terminal.reporting(), interrupt.poll());
    }
    terminal.finish();

    switch (result.outcome) {
        case ExportOutcome::Completed:
            break;
        case ExportOutcome::Stopped:
            printError(s, "stopped: " + std::to_string(result.bytesDone) + " of " + std::to_string(result.totalBytes) +
                              " bytes written to " + output);
            return kExitFailed;
        default:
            // The message itself was printed as it happened.
            printError(s, "export failed: " + std::to_string(result.bytesDone) + " of " +
                              std::to_string(result.totalBytes) + " bytes written to " + output);
            return kExitFailed;
    }
    if (result.unreadableSectors) {
        printError(s, std::to_string(result.unreadableSectors) + " sectors could not be read from the image; " +
                          "they were written as zeros in " + output);
        return kExitFailed;
    }
    s.out << output << ": " << result.bytesDone << " bytes written\n";
    return kExitOk;
}

}  // namespace

void addExportCommand(CLI::App& app, CommandContext& context) {
    const auto [cmd, options] =
        addCommand(app, context, "export", "Write the whole virtual disk as a flat raw image", runExport);
    addImageArgument(*cmd, options->image, options->overrides);
    cmd->add_option("OUT", options->output,
                    "Output file, or a folder to name it in (<image name>.img, then 1<image name>.img, ...)")
        ->required();
    cmd->add_flag("--force", options->force, "Replace an existing output file");
}

}  // namespace halvard::cli
