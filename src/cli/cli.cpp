#include "cli/cli.h"

#include <ostream>

namespace halvard::cli {

void printError(const Streams& streams, const std::string& text) { streams.err << "halvard: " << text << '\n'; }

int stoppableEnd(const Streams& streams, bool stopped, const std::string& what) {
    if (!stopped) return kExitOk;
    printError(streams, "stopped: " + what);
    return kExitFailed;
}

int run(int argc, const char* const* argv, Streams streams) {
    CLI::App app{"Halvard Disk Recovery: reads virtual disk images (VHDX, VHD, VDI, VMDK, qcow2, raw) and recovers what they hold.", "halvard"};
    app.require_subcommand(1);
    app.set_version_flag("--version", std::string("halvard 0.1.0"));
    CommandContext context{streams};
    addInfoCommand(app, context);
    addVolumesCommand(app, context);
    addLsCommand(app, context);
    addSaveCommand(app, context);
    addSearchCommand(app, context);
    addExportCommand(app, context);
    addCarveCommand(app, context);
    addCandidatesCommand(app, context);
    addMountCommand(app, context);
    try {
        app.parse(argc, argv);
    } catch (const CLI::CallForHelp&) {
        streams.out << app.help();
        return kExitOk;
    } catch (const CLI::CallForAllHelp&) {
        streams.out << app.help("", CLI::AppFormatMode::All);
        return kExitOk;
    } catch (const CLI::CallForVersion&) {
        streams.out << "halvard 0.1.0\n";
        return kExitOk;
    } catch (const CLI::ParseError& e) {
        printError(streams, e.what());
        streams.err << "Run 'halvard --help' for usage.\n";
        return kExitUsage;
    }
    return context.exitCode;
}

}  // namespace halvard::cli
