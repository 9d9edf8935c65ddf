// halvard search IMAGE --volume N PATTERN [--json]: files whose names match a regular expression ("|" joins
// patterns, case ignored), with the same fields as ls.
#include <memory>

#include "browser/search.h"
#include "cli/entry_output.h"
#include "cli/interrupt_stop.h"
#include "cli/terminal_reporting.h"
#include "cli/volume_view_session.h"

namespace halvard::cli {

namespace {

struct SearchOptions {
    VolumeOptions volume;
    std::string pattern;
    bool json = false;
};

int runSearch(const SearchOptions& options, const Streams& s) {
    // Refuse a bad pattern before the volume is read.
    if (!NamePattern::compile(options.pattern)) {
        printError(s, kPatternRefused);
        return kExitUsage;
    }
    int status = kExitOk;
    InterruptStop interrupt;
    auto parsed = openParsedVolume(options.volume, s, status, interrupt.poll());
    if (!parsed) return status;
    EntryPrinter printer(s.out, *parsed->view, options.json ? EntryFormat::json : EntryFormat::lines);
    SearchHooks hooks;
    // Results sent to a file or a program leave the terminal free for the walk's progress.
    TerminalReporting progress(s.err, s.errIsTerminal && !s.outIsTerminal);
    hooks.reporting = progress.reporting();
    hooks.found = [&printer](const std::string& path, EntryId entry) { printer.add(path, entry); };
    const SearchOutcome outcome =
        searchVolume(*parsed->view, options.pattern, SearchPathStyle{"", '/'}, hooks, interrupt.poll());
    printer.finish();
    progress.finish();
    return stoppableEnd(s, outcome.stopped || interrupt.interrupted(), "the results above are not complete");
}

}  // namespace

void addSearchCommand(CLI::App& app, CommandContext& context) {
    const auto [cmd, options] =
        addCommand(app, context, "search", "Find files whose names match a pattern, deleted ones included", runSearch);
    addVolumeOptions(*cmd, options->volume);
    cmd->add_option("PATTERN", options->pattern,
                    "Regular expression found anywhere in the name, case ignored; \"|\" joins patterns (\"txt|jpg\")")
        ->required();
    cmd->add_flag("--json", options->json, "Print a JSON array");
}

}  // namespace halvard::cli
