// halvard candidates IMAGE --volume N [--limit L] [--json]: what the advanced road's finders find on a volume
// whose boot sector or directories cannot be trusted: $MFT records (NTFS), FAT copies (FAT12/16, FAT32), FAT
// copies and cluster heaps (exFAT), and the cluster sizes offered, as the advanced options page lists them.
#include <memory>
#include <nlohmann/json.hpp>

#include "cli/interrupt_stop.h"
#include "cli/json_array_stream.h"
#include "cli/terminal_reporting.h"
#include "cli/volume_view_session.h"

namespace halvard::cli {

namespace {

struct CandidatesOptions {
    VolumeOptions volume;
    std::uint64_t limit = 3;
    bool json = false;
};

void addOffsets(JsonArrayStream& list, const char* name, const std::vector<std::string>& texts,
                const std::vector<std::uint64_t>& offsets) {
    for (std::size_t i = 0; i < texts.size() && i < offsets.size(); ++i)
        list.add({{"list", name}, {"index", i}, {"text", texts[i]}, {"offset", offsets[i]}});
}

void printOffsets(std::ostream& out, const std::string& label, const std::vector<std::string>& texts,
                  const std::vector<std::uint64_t>& offsets) {
    out << label << '\n';
    for (std::size_t i = 0; i < texts.size() && i < offsets.size(); ++i)
        out << "  " << i << "  " << texts[i] << "  offset " << offsets[i] << '\n';
}

int runCandidates(const CandidatesOptions& options, const Streams& s) {
    int status = kExitOk;
    auto opened = openVolumeView(options.volume, s, status);
    if (!opened) return status;
    TerminalReporting terminal(s.err, s.errIsTerminal);
    InterruptStop interrupt;
    ParseContext context;
    context.reporting = {&terminal, &terminal, nullptr};
    context.stop = interrupt.poll();
    const auto found = opened->view->findStructures(context, options.limit);
    terminal.finish();
    if (!found) {
        printError(s, "volume " + options.volume.volume + " holds " + opened->volume.fileSystem +
                          ", which has no advanced recovery (NTFS, FAT and exFAT have)");
        return kExitUsage;
    }
    if (interrupt.interrupted()) printError(s, "stopped: the lists below are not complete");
    // exFAT offers powers of two: shown as sectors per cluster, as --sectors-per-cluster takes them.
    std::vector<std::uint64_t> sectors;
    for (const std::string& item : found->clusterSizes) {
        const std::uint64_t value = std::stoull(item);
        sectors.push_back(found->clusterSizeIsShift ? 1ULL << value : value);
    }
    if (options.json) {
        JsonArrayStream list(s.out);
        addOffsets(list, "found", found->found, found->foundOffsets);
        addOffsets(list, "heap", found->heaps, found->heapOffsets);
        for (std::size_t i = 0; i < sectors.size(); ++i)
            list.add({{"list", "sectors_per_cluster"}, {"index", i}, {"text", found->clusterSizes[i]},
                            {"sectors_per_cluster", sectors[i]}});
        list.finish();
        return interrupt.interrupted() ? kExitFailed : kExitOk;
    }
    printOffsets(s.out, found->foundLabel, found->found, found->foundOffsets);
    if (found->heapList) printOffsets(s.out, "Heap Offset :", found->heaps, found->heapOffsets);
    s.out << "Sector Per Cluster :";
    for (std::uint64_t value : sectors) s.out << ' ' << value;
    s.out << '\n' << found->message << '\n';
    return interrupt.interrupted() ? kExitFailed : kExitOk;
}

}  // namespace

void addCandidatesCommand(CLI::App& app, CommandContext& context) {
    const auto [cmd, options] = addCommand(
        app, context, "candidates",
        "List the $MFT records, FAT copies and cluster heaps the advanced mode can start from", runCandidates);
    addVolumeChoice(*cmd, options->volume);
    cmd->add_option("--limit", options->limit, "Stop after this many finds of each kind (default 3)");
    cmd->add_flag("--json", options->json, "Print a JSON array");
}

}  // namespace halvard::cli
