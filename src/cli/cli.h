#pragma once
// The `halvard` command: one function per sub-command, each registered on the CLI11 app by `add*Command`.
// Exit status: 0 success, 1 usage error, 2 the image or volume cannot be read (or the work failed).
#include <CLI/CLI.hpp>
#include <iosfwd>
#include <memory>
#include <string>
#include <utility>

namespace halvard::cli {

inline constexpr int kExitOk = 0;
inline constexpr int kExitUsage = 1;
inline constexpr int kExitFailed = 2;
inline constexpr int kExitDamaged = 3;  // info --check: the image is damaged but readable

// Where a command writes: results to `out`, errors and progress to `err`.
struct Streams {
    std::ostream& out;
    std::ostream& err;
    bool errIsTerminal = false;
    bool outIsTerminal = false;  // then the output itself shows the progress
};

// Each sub-command stores its exit status here when it has run.
struct CommandContext {
    Streams streams;
    int exitCode = kExitOk;
};

void addInfoCommand(CLI::App& app, CommandContext& context);
void addExportCommand(CLI::App& app, CommandContext& context);
void addVolumesCommand(CLI::App& app, CommandContext& context);
void addLsCommand(CLI::App& app, CommandContext& context);
void addSaveCommand(CLI::App& app, CommandContext& context);
void addSearchCommand(CLI::App& app, CommandContext& context);
void addCarveCommand(CLI::App& app, CommandContext& context);
void addCandidatesCommand(CLI::App& app, CommandContext& context);
void addMountCommand(CLI::App& app, CommandContext& context);

// Registers a sub-command whose options live in one `Options` object and whose work is `run(options, streams)`.
// Returns the sub-command and its options, for the caller to declare the options on.
template <typename Options>
std::pair<CLI::App*, std::shared_ptr<Options>> addCommand(CLI::App& app, CommandContext& context, const std::string& name,
                                                          const std::string& description,
                                                          int (*run)(const Options&, const Streams&)) {
    auto options = std::make_shared<Options>();
    CLI::App* command = app.add_subcommand(name, description);
    command->callback([options, run, &context] { context.exitCode = run(*options, context.streams); });
    return {command, options};
}

// How a command that Ctrl-C may stop ends: kExitOk, or, after the line "stopped: <what>", kExitFailed.
int stoppableEnd(const Streams& streams, bool stopped, const std::string& what);

// Parses `argv` and runs the chosen command; returns the exit status.
int run(int argc, const char* const* argv, Streams streams);

// One error line: "halvard: <text>".
void printError(const Streams& streams, const std::string& text);

// JSON as the commands print it: indented, with U+FFFD for bytes that are not UTF-8 (ext names are raw bytes)
// rather than an exception.
template <typename Json>
std::string jsonText(const Json& json) {
    return json.dump(2, ' ', false, Json::error_handler_t::replace);
}

}  // namespace halvard::cli
