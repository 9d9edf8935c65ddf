// halvard carve IMAGE --volume N [--signatures FILE]... [--no-default] [--out DIR] [--json]
#include <filesystem>
#include <memory>
#include <optional>
#include <nlohmann/json.hpp>

#include "cli/image_argument.h"
#include "cli/interrupt_stop.h"
#include "cli/json_array_stream.h"
#include "cli/terminal_reporting.h"
#include "cli/volume_selection.h"
#include "common/texts.h"
#include "image/image_kind.h"
#include "raw/carved_files.h"
#include "raw/carving_engine.h"
#include "raw/signature_file.h"

namespace halvard::cli {

namespace {

struct CarveOptions {
    std::string image;
    ImageOverrides overrides;
    std::string volume;
    ScanOptions scan;
    std::vector<std::string> signatures;
    bool noDefault = false;
    std::string out;
    bool json = false;
};

// The default file first (unless refused), then each user file; false (with the file named) when a user file is
// unusable.
bool loadDefinitions(CarvingEngine& engine, const CarveOptions& options, const Reporting& reporting, const Streams& s) {
    if (!options.noDefault) {
        if (auto defaults = readSignatureFile(defaultSignaturePath(), SignatureFileKind::Default, 0, reporting))
            engine.addDefinitions(std::move(*defaults));
    }
    for (const std::string& path : options.signatures) {
        auto definitions =
            readSignatureFile(path, SignatureFileKind::User, engine.definitions().size(), reporting);
        if (!definitions) {
            printError(s, "signature file " + path + " cannot be used");
            return false;
        }
        engine.addDefinitions(std::move(*definitions));
    }
    return true;
}

// Results grouped by category, categories in the order their first definition was loaded.
std::vector<const CarveResult*> byCategory(const CarvingEngine& engine) {
    std::vector<std::string> order;
    for (const SignatureDefinition& d : engine.definitions())
        if (std::find(order.begin(), order.end(), d.category) == order.end()) order.push_back(d.category);
    std::vector<const CarveResult*> sorted;
    for (const std::string& category : order)
        for (const CarveResult& r : engine.results())
            if (engine.definitions()[r.definition].category == category) sorted.push_back(&r);
    return sorted;
}

const char* validationText(CarveValidation validation) {
    switch (validation) {
        case CarveValidation::Validated: return "yes";
        case CarveValidation::Damaged: return "damaged";
        case CarveValidation::NotChecked: break;
    }
    return "no";
}

// What the format checks made of the candidates: whole files, files kept by their signatures, look-alikes.
std::string checkSummary(const CarvingEngine& engine) {
    std::uint64_t validated = 0, damaged = 0;
    for (const CarveResult& r : engine.results()) {
        validated += r.validation == CarveValidation::Validated;
        damaged += r.validation == CarveValidation::Damaged;
    }
    return std::to_string(validated) + " validated, " + std::to_string(damaged) + " damaged, " +
           std::to_string(engine.droppedCount()) + " dropped";
}

nlohmann::ordered_json resultJson(const CarvingEngine& engine, const CarveResult& r) {
    return {{"category", engine.definitions()[r.definition].category},
            {"name", r.name},
            {"offset", r.startOffset},
            {"length", r.length},
            {"validated", validationText(r.validation)}};
}

void printResultLines(const CarvingEngine& engine, const std::vector<const CarveResult*>& results, std::ostream& out) {
    std::string category;
    for (const CarveResult* r : results) {
        const std::string& own = engine.definitions()[r->definition].category;
        if (own != category || r == results.front()) {
            category = own;
            out << category << " (" << engine.categoryCounts().at(category) << ")\n";
        }
        out << "  " << r->name << "  offset " << r->startOffset << "  length " << r->length << "  ("
            << sizeText(r->length) << ")\n";
    }
}

int runCarve(const CarveOptions& options, const Streams& s) {
    OpenedImage opened = openImage(options.image, options.overrides);
    if (!opened.reader) {
        printError(s, opened.error);
        return kExitFailed;
    }
    const DevicePtr disk = std::move(opened.reader);
    const auto volume = selectVolume(disk, options.volume, options.scan, s);
    if (!volume) return options.volume.rfind("custom:", 0) == 0 ? kExitUsage : kExitFailed;

    TerminalReporting terminal(s.err, s.errIsTerminal);
    CarvingEngine engine;
    if (!loadDefinitions(engine, options, terminal.reporting(), s)) return kExitUsage;
    if (engine.definitions().empty()) {
        printError(s, "Enter the info file first..");
        return kExitUsage;
    }
    const std::uint64_t volumeSize = volumeSizeBytes(*volume);
    if (volumeSize == 0) {
        printError(s, "zero size volume..");
        return kExitFailed;
    }
    InterruptStop interrupt;
    engine.setVolumeSize(volumeSize);
    engine.setDevice(volume->device.get());
    engine.setReporting({&terminal, &terminal, nullptr});  // the page's "done.." box has no place here
    engine.setStopPoll(interrupt.poll());
    // Programs get each result as it is found; people get them grouped by category, with counts, at the end.
    std::optional<JsonArrayStream> list;
    if (options.json) {
        list.emplace(s.out);
        engine.setResultObserver([&](const CarveResult& r) { list->add(resultJson(engine, r)); });
    }
    terminal.setStatus("Processing.....");
    const bool carved = engine.carveVolume(options.out);
    terminal.finish();
    if (list) list->finish();
    if (!carved) {
        printError(s, "not properly initialized");
        return kExitFailed;
    }
    const std::vector<const CarveResult*> results = byCategory(engine);
    if (list) {
        if (interrupt.interrupted()) printError(s, "stopped: the results above cover the volume up to the stop");
    } else {
        if (interrupt.interrupted()) printError(s, "stopped: the results below cover the volume up to the stop");
        printResultLines(engine, results, s.out);
    }
    s.err << checkSummary(engine) << '\n';
    if (options.out.empty() || interrupt.interrupted()) return interrupt.interrupted() ? kExitFailed : kExitOk;

    std::error_code ec;
    std::filesystem::create_directories(options.out, ec);
    if (ec) {
        printError(s, "cannot create " + options.out + ": " + ec.message());
        return kExitFailed;
    }
    std::vector<CarveResult> chosen;
    for (const CarveResult* r : results) chosen.push_back(*r);
    const CarvedFilesOutcome outcome =
        writeCarvedFiles(*volume->device, chosen, options.out, terminal.reporting(), interrupt.poll());
    terminal.finish();
    s.err << outcome.filesWritten << " files written to " << options.out << '\n';
    if (outcome.unreadableFiles)
        printError(s, std::to_string(outcome.unreadableFiles) +
                          " files hold sectors that could not be read from the image (written as zeros)");
    if (outcome.stopped) printError(s, "stopped before every file was written");
    return outcome.filesFailed || outcome.unreadableFiles || outcome.stopped ? kExitFailed : kExitOk;
}

}  // namespace

void addCarveCommand(CLI::App& app, CommandContext& context) {
    const auto [cmd, options] =
        addCommand(app, context, "carve", "Find files in a volume by their signatures (raw recovery)", runCarve);
    addImageArgument(*cmd, options->image, options->overrides);
    cmd->add_option("--volume", options->volume, "VOLUME number of 'halvard volumes', or custom:RAW:START:SIZE_MB")
        ->required();
    addScanOptions(*cmd, options->scan);
    cmd->add_option("--signatures", options->signatures,
                    "A signature file made with the signature editor (may be given more than once)");
    cmd->add_flag("--no-default", options->noDefault, "Do not load FileSetting.txt from beside the program");
    cmd->add_option("--out", options->out, "Write every carved file into this folder");
    cmd->add_flag("--json", options->json, "Print a JSON array: category, name, offset, length, validated");
}

}  // namespace halvard::cli
