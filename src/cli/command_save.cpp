// halvard save IMAGE --volume N --path P --out DIR [--hashes FILE] [--streams]: a folder with its sub-folders, or one
// file, with time stamps (and checksum lists of what was written).
#include <filesystem>
#include <memory>

#include "browser/entry_walk.h"
#include "browser/save_walk.h"
#include "common/host_files.h"
#include "cli/interrupt_stop.h"
#include "cli/save_hashes.h"
#include "cli/terminal_reporting.h"
#include "cli/volume_view_session.h"

namespace halvard::cli {

namespace {

struct SaveOptions {
    VolumeOptions volume;
    std::string path;
    std::string out;
    std::string hashes;
};

int runSave(const SaveOptions& options, const Streams& s) {
    std::error_code ec;
    std::filesystem::create_directories(options.out, ec);
    if (!std::filesystem::is_directory(options.out, ec)) {
        printError(s, options.out + ": cannot create the output folder");
        return kExitFailed;
    }
    int status = kExitOk;
    InterruptStop interrupt;
    auto parsed = openParsedVolume(options.volume, s, status, interrupt.poll());
    if (!parsed) return status;
    VolumeView& view = *parsed->view;
    const auto entry = findEntry(view, options.path);
    if (!entry) {
        printError(s, "no entry " + options.path + " on volume " + options.volume.volume);
        return kExitFailed;
    }

    SaveSummary summary;
    if (interrupt.interrupted()) {
        printError(s, "stopped before anything was saved");
        return kExitFailed;
    }
    SaveHashes hashes;
    std::vector<std::string> hashFailures;
    SaveReporting reporting;
    if (!options.hashes.empty()) {
        if (const std::string error = hashes.open(options.hashes, options.out); !error.empty()) {
            printError(s, "cannot write the checksum list " + error);
            return kExitFailed;
        }
        reporting.fileWritten = [&](const std::string& hostPath) {
            if (std::string error = hashes.add(hostPath); !error.empty()) hashFailures.push_back(std::move(error));
        };
    }
    if (isFolderEntry(view, *entry)) {
        TerminalReporting terminal(s.err, s.errIsTerminal);
        const std::uint64_t count = countFiles(view, *entry, interrupt.poll());
        terminal.setRange(0, static_cast<std::uint32_t>(std::min<std::uint64_t>(count, 0xFFFFFFFFu)));
        reporting.reporting = {&terminal, &terminal, nullptr};
        summary = saveFolder(view, *entry, options.out, reporting, interrupt.poll());
        terminal.setPosition(static_cast<std::uint32_t>(std::min<std::uint64_t>(count, 0xFFFFFFFFu)));
        terminal.finish();
    } else {
        summary = saveOneFile(view, *entry, options.out, reporting);
    }
    if (!options.hashes.empty()) {
        if (std::string error = hashes.finish(); !error.empty()) hashFailures.push_back(std::move(error));
    }

    s.out << summary.files << " files written (" << summary.bytes << " bytes), " << summary.folders
          << " folders created";
    if (summary.damaged) s.out << ", " << summary.damaged << " with unreadable parts written as zeros";
    if (summary.uninitialized)
        s.out << ", " << summary.uninitialized << " written up to their initialized size (zeros after it)";
    if (summary.skipped) s.out << ", " << summary.skipped << " skipped";
    if (!summary.unrecoverable.empty()) s.out << ", " << summary.unrecoverable.size() << " not recoverable";
    s.out << ", " << summary.failures.size() << " failed\n";
    for (const std::string& renamed : summary.renamed) s.out << "saved under another name: " << renamed << "\n";
    // Notes, not failures: what the volume no longer holds, or what has no content, leaves the status alone.
    for (const std::string& note : summary.skipNotes) printError(s, "skipped: " + note);
    for (const std::string& lost : summary.unrecoverable) printError(s, "not saved: " + lost);
    for (const std::string& failure : summary.failures) printError(s, "not saved: " + failure);
    if (summary.stopped || interrupt.interrupted()) printError(s, "stopped: the files counted above were saved, the rest not");
    if (summary.diskFull) printError(s, std::string(kInsufficientSpaceText) + " (" + options.out + "); the save stopped there");
    for (const std::string& failure : hashFailures) printError(s, "no checksum: " + failure);
    return summary.failures.empty() && hashFailures.empty() && !summary.diskFull && !summary.stopped && !interrupt.interrupted() ? kExitOk
                                                                                                   : kExitFailed;
}

}  // namespace

void addSaveCommand(CLI::App& app, CommandContext& context) {
    const auto [cmd, options] =
        addCommand(app, context, "save", "Save a folder (with its sub-folders) or one file, with time stamps", runSave);
    addVolumeOptions(*cmd, options->volume);
    cmd->add_option("--path", options->path, "Folder or file to save, \"/\"-joined from the volume root")->required();
    cmd->add_option("--out", options->out, "Output folder (created if missing)")->required();
    cmd->add_option("--hashes", options->hashes,
                    "Write a SHA-256 line per saved file to FILE and an MD5 line to FILE.md5 (as sha256sum and "
                    "md5sum write them; names relative to the output folder)");
    cmd->add_flag("--streams", options->volume.streams,
                  "Also save NTFS alternate data streams, each as a file FILE:STREAM beside its file");
}

}  // namespace halvard::cli
