// halvard info IMAGE [--check] [--json]: what the image says about the disk it holds, and with --check what is
// damaged in it.
#include <algorithm>
#include <memory>
#include <nlohmann/json.hpp>

#include "cli/image_argument.h"
#include "cli/cli.h"
#include "cli/terminal_reporting.h"
#include "common/texts.h"
#include "image/image_info.h"

namespace halvard::cli {

namespace {

struct InfoOptions {
    std::string image;
    ImageOverrides overrides;
    bool json = false;
    bool check = false;
};

std::string logText(const ImageInfo& info) {
    const std::string entries = std::to_string(info.log.entries) + (info.log.entries == 1 ? " entry" : " entries");
    if (!info.log.present) return "none (the image was closed cleanly)";
    if (info.log.entries == 0) return "named by the header, but no complete sequence of entries; not replayed";
    if (info.log.replayed) return "replayed: " + entries + " laid over the image in memory (the file is not written)";
    return "pending: " + entries + ", not replayed (--no-log-replay)";
}

nlohmann::ordered_json toJson(const ImageInfo& info, bool check) {
    nlohmann::ordered_json j;
    j["format"] = info.format;
    // A number where the format's version is one ("1"), else its text ("1.1").
    if (info.version.empty())
        j["version"] = nullptr;
    else if (info.version.find_first_not_of("0123456789") == std::string::npos && info.version.size() < 9)
        j["version"] = std::stoi(info.version);
    else
        j["version"] = info.version;
    j["file_size"] = info.fileSize;
    j["virtual_size"] = info.virtualSize;
    j["block_size"] = info.blockSize;
    j["logical_sector_size"] = info.logicalSectorSize;
    j["physical_sector_size"] = info.physicalSectorSize;
    j["differencing"] = info.differencing;
    j["total_blocks"] = info.totalBlocks;
    j["allocated_blocks"] = info.allocatedBlocks;
    j["warnings"] = info.warnings;
    j["notes"] = info.notes;
    if (info.kind == ImageKind::Vhdx) {
        j["log"] = {{"present", info.log.present}, {"replayed", info.log.replayed}, {"entries", info.log.entries}};
        j["parents"] = info.parents;
        nlohmann::ordered_json states = nlohmann::ordered_json::object();
        for (const auto& [name, count] : info.blocksByState) states[name] = count;
        j["blocks_by_state"] = states;
    }
    if (info.kind != ImageKind::Vhdx) j["parents"] = info.parents;
    if (info.missingParent)
        j["missing_parent"] = {{"named", info.missingParent->named}, {"looked_for", info.missingParent->lookedFor}};
    if (info.kind == ImageKind::Qcow2) {
        nlohmann::ordered_json snapshots = nlohmann::ordered_json::array();
        for (const auto& s : info.snapshots)
            snapshots.push_back({{"id", s.id}, {"name", s.name}, {"virtual_size", s.diskSize}});
        j["snapshots"] = snapshots;
    }
    if (check) j["damage"] = info.damage;
    return j;
}

void printText(std::ostream& out, const ImageInfo& info, bool check) {
    auto row = [&](const char* label, const std::string& value) { out << label << value << '\n'; };
    auto bytes = [](std::uint64_t n) { return std::to_string(n) + " bytes"; };
    row("Format:               ", info.format);
    if (!info.version.empty()) row("Format version:       ", info.version);
    row("Virtual disk size:    ",
        bytes(info.virtualSize) + " (" +
            sizeText(static_cast<std::int64_t>(std::min<std::uint64_t>(info.virtualSize, INT64_MAX))) + ", " +
            std::to_string(info.virtualSize / 1048576) + " MB)");
    row("Block size:           ", bytes(info.blockSize));
    row("Logical sector size:  ", bytes(info.logicalSectorSize));
    if (info.physicalSectorSize) row("Physical sector size: ", bytes(info.physicalSectorSize));
    row("Differencing:         ", info.differencing ? "yes" : "no");
    row("Allocated blocks:     ", std::to_string(info.allocatedBlocks) + " of " + std::to_string(info.totalBlocks));
    row("Image file size:      ", bytes(info.fileSize));
    if (info.kind == ImageKind::Vhdx) {
        row("Log:                  ", logText(info));
        for (const auto& parent : info.parents) row("Parent:               ", parent);
        std::string states;
        for (const auto& [name, count] : info.blocksByState)
            states += (states.empty() ? "" : ", ") + name + " " + std::to_string(count);
        if (!states.empty()) row("Blocks by state:      ", states);
    }
    if (info.kind != ImageKind::Vhdx)
        for (const auto& parent : info.parents) row("Parent:               ", parent);
    if (info.missingParent) {
        std::string places;
        for (const auto& place : info.missingParent->lookedFor) places += (places.empty() ? "" : ", ") + place;
        row("Parent:               ", (info.missingParent->named.empty() ? std::string("(no name)") : info.missingParent->named) +
                                          " (not found" + (places.empty() ? std::string() : "; looked for " + places) + ")");
    }
    if (info.kind == ImageKind::Qcow2) {
        for (const auto& s : info.snapshots)
            row("Snapshot:             ", s.name + " (ID " + s.id + ", " + bytes(s.diskSize) + ")");
    }
    for (const auto& note : info.notes) row("Note:                 ", note);
    if (!check) return;
    if (info.damage.empty()) row("Check:                ", "no damage found");
    for (const auto& damage : info.damage) row("Damage:               ", damage);
}

int runInfo(const InfoOptions& options, const Streams& s) {
    ImageInfo info;
    {
        // Checking a large image's block table takes a moment: say what is going on meanwhile.
        TerminalReporting progress(s.err, s.errIsTerminal && options.check);
        progress.setStatus("checking " + options.image + "...");
        // A child whose parent is missing is described from its own headers; reading it is still refused.
        ImageOverrides overrides = options.overrides;
        overrides.openWithoutParent = true;
        info = describeImage(options.image, overrides);
    }
    if (!info.ok) {
        printError(s, info.error);
        return kExitFailed;
    }
    for (const auto& warning : info.warnings) printError(s, "warning: " + warning);
    if (options.json)
        s.out << jsonText(toJson(info, options.check)) << '\n';
    else
        printText(s.out, info, options.check);
    return options.check && !info.damage.empty() ? kExitDamaged : kExitOk;
}

}  // namespace

void addInfoCommand(CLI::App& app, CommandContext& context) {
    const auto [cmd, options] = addCommand(app, context, "info",
                                           "Show the image's format version, disk size, block size and sector size", runInfo);
    addImageArgument(*cmd, options->image, options->overrides);
    cmd->add_flag("--check", options->check,
                  "Check the image's integrity (VHDX: headers, region tables, metadata, log, block table); exit "
                  "status 3 when it is damaged but readable");
    cmd->add_flag("--json", options->json, "Print one JSON object");
}

}  // namespace halvard::cli
