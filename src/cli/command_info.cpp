// halvard info IMAGE [--json]: what the image says about the disk it holds.
#include <memory>
#include <nlohmann/json.hpp>

#include "cli/cli.h"
#include "common/texts.h"
#include "image/image_info.h"

namespace halvard::cli {

namespace {

struct InfoOptions {
    std::string image;
    bool json = false;
};

nlohmann::ordered_json toJson(const ImageInfo& info) {
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
    return j;
}

void printText(std::ostream& out, const ImageInfo& info) {
    auto row = [&](const char* label, const std::string& value) { out << label << value << '\n'; };
    auto bytes = [](std::uint64_t n) { return std::to_string(n) + " bytes"; };
    row("Format:               ", info.format);
    if (!info.version.empty()) row("Format version:       ", info.version);
    row("Virtual disk size:    ",
        bytes(info.virtualSize) + " (" + sizeText(static_cast<std::int64_t>(info.virtualSize)) + ", " +
            std::to_string(info.virtualSize / 1048576) + " MB)");
    row("Block size:           ", bytes(info.blockSize));
    row("Logical sector size:  ", bytes(info.logicalSectorSize));
    if (info.physicalSectorSize) row("Physical sector size: ", bytes(info.physicalSectorSize));
    row("Differencing:         ", info.differencing ? "yes" : "no");
    row("Allocated blocks:     ", std::to_string(info.allocatedBlocks) + " of " + std::to_string(info.totalBlocks));
    row("Image file size:      ", bytes(info.fileSize));
    for (const auto& note : info.notes) row("Note:                 ", note);
}

}  // namespace

void addInfoCommand(CLI::App& app, CommandContext& context) {
    auto options = std::make_shared<InfoOptions>();
    CLI::App* cmd = app.add_subcommand("info", "Show the image's format version, disk size, block size and sector size");
    cmd->add_option("IMAGE", options->image, "Virtual disk image (VHDX, VHD, VDI, VMDK or flat raw)")->required();
    cmd->add_flag("--json", options->json, "Print one JSON object");
    cmd->callback([options, &context] {
        const Streams& s = context.streams;
        const ImageInfo info = describeImage(options->image);
        if (!info.ok) {
            printError(s, info.error);
            context.exitCode = kExitFailed;
            return;
        }
        for (const auto& warning : info.warnings) printError(s, "warning: " + warning);
        if (options->json)
            s.out << jsonText(toJson(info)) << '\n';
        else
            printText(s.out, info);
        context.exitCode = kExitOk;
    });
}

}  // namespace halvard::cli
