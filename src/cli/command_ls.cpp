// halvard ls IMAGE --volume N [--mode standard|advanced|deep] [--path P] [--recursive] [--deleted-only] [--streams]
//            [--json | --bodyfile]
#include <cstdio>
#include <memory>
#include <nlohmann/json.hpp>

#include "browser/entry_walk.h"
#include "cli/volume_view_session.h"
#include "cli/entry_output.h"
#include "cli/interrupt_stop.h"
#include "cli/terminal_reporting.h"

namespace halvard::cli {

namespace {

struct LsOptions {
    VolumeOptions volume;
    std::string path = "/";
    bool recursive = false;
    bool deletedOnly = false;
    bool json = false;
    bool bodyfile = false;
};

int runLs(const LsOptions& options, const Streams& s) {
    int status = kExitOk;
    InterruptStop interrupt;
    auto parsed = openParsedVolume(options.volume, s, status, interrupt.poll());
    if (!parsed) return status;
    const VolumeView& view = *parsed->view;
    const auto start = findEntry(view, options.path);
    if (!start) {
        printError(s, "no entry " + options.path + " on volume " + options.volume.volume);
        return kExitFailed;
    }
    const std::string base = options.path.empty() ? "/" : options.path;
    EntryPrinter printer(s.out, view,
                         options.json       ? EntryFormat::json
                         : options.bodyfile ? EntryFormat::bodyfile
                                            : EntryFormat::lines);
    // A listing sent to a file or a program says on the terminal how far it got.
    TerminalReporting progress(s.err, s.errIsTerminal && !s.outIsTerminal);
    std::uint64_t visited = 0;
    auto visit = [&](const std::string& path, EntryId entry) {
        if (!options.deletedOnly || view.isDeleted(entry)) printer.add(path, entry);
        if (++visited % 4096 == 0) progress.setStatus(std::to_string(visited) + " entries listed");
        return !interrupt.interrupted();
    };
    if (isFolderEntry(view, *start)) {
        visitEntries(view, *start, base, options.recursive, visit);
    } else if (visit(base, *start)) {
        // A file asked for by its path comes with its streams, as its folder's listing would show them.
        const std::string folder = base.substr(0, base.rfind('/'));
        for (EntryId stream : view.streamsOf(*start))
            if (!visit(childPath(folder, view.name(stream)), stream)) break;
    }
    printer.finish();
    progress.finish();
    return stoppableEnd(s, interrupt.interrupted(), "the listing above is not complete");
}

}  // namespace

void addLsCommand(CLI::App& app, CommandContext& context) {
    const auto [cmd, options] =
        addCommand(app, context, "ls", "List the files and folders of a volume, deleted ones included", runLs);
    addVolumeOptions(*cmd, options->volume);
    cmd->add_option("--path", options->path, "Folder (or file) to list, \"/\"-joined from the volume root");
    cmd->add_flag("--recursive", options->recursive, "Also list everything below");
    cmd->add_flag("--deleted-only", options->deletedOnly, "Only deleted entries");
    cmd->add_flag("--streams", options->volume.streams,
                  "Also list NTFS alternate data streams, each as an entry FILE:STREAM beside its file");
    auto* json = cmd->add_flag("--json", options->json, "Print a JSON array");
    cmd->add_flag("--bodyfile", options->bodyfile, "Print a body file for timeline tools (mactime -b)")->excludes(json);
}

}  // namespace halvard::cli
