// halvard volumes IMAGE [--gpt] [--advanced [--start S] [--end E] [--no-skip]] [--json]
#include <cstdio>
#include <memory>
#include <nlohmann/json.hpp>

#include "cli/image_argument.h"
#include "cli/volume_selection.h"
#include "image/image_kind.h"

namespace halvard::cli {

namespace {

struct VolumesOptions {
    std::string image;
    ImageOverrides overrides;
    ScanOptions scan;
    bool json = false;
};

void printTable(std::ostream& out, const std::vector<VolumeRecord>& records) {
    char line[256];
    std::snprintf(line, sizeof line, "%-8s %-30s %-14s %s\n", "VOLUME", "FILE_SYSTEM", "VOLUME_SIZE", "START_SECTOR");
    out << line;
    for (const VolumeRecord& r : records) {
        std::snprintf(line, sizeof line, "%-8s %-30s %-14s %lld\n", r.volumeName.c_str(), r.fileSystem.c_str(),
                      volumeSizeText(r).c_str(), static_cast<long long>(r.startSector));
        out << line;
    }
}

nlohmann::ordered_json toJson(const std::vector<VolumeRecord>& records) {
    nlohmann::ordered_json list = nlohmann::ordered_json::array();
    for (std::size_t i = 0; i < records.size(); ++i) {
        const VolumeRecord& r = records[i];
        list.push_back({{"volume", i},
                        {"file_system", r.fileSystem},
                        {"size_text", volumeSizeText(r)},
                        {"size_mib", sizeMiB(r)},
                        {"size_sectors", volumeSectors(r)},
                        {"start_sector", r.startSector}});
        if (!r.note.empty()) list.back()["note"] = r.note;
    }
    return list;
}

int runVolumes(const VolumesOptions& options, const Streams& s) {
    OpenedImage opened = openImage(options.image, options.overrides);
    if (!opened.reader) {
        printError(s, opened.error);
        return kExitFailed;
    }
    bool stopped = false;
    const std::vector<VolumeRecord> records = scanVolumes(std::move(opened.reader), options.scan, s, &stopped);
    if (options.json)
        s.out << jsonText(toJson(records)) << '\n';
    else if (records.empty())
        s.err << "halvard: no volumes found" << (options.scan.advanced ? "" : "; try --advanced") << '\n';
    else
        printTable(s.out, records);
    for (const VolumeRecord& r : records)
        if (!r.note.empty()) s.err << "halvard: note: volume " << r.volumeName << " " << r.note << '\n';
    return stoppableEnd(s, stopped, "the volumes above were found before the stop");
}

}  // namespace

void addVolumesCommand(CLI::App& app, CommandContext& context) {
    const auto [cmd, options] = addCommand(app, context, "volumes", "List the volumes of the virtual disk", runVolumes);
    addImageArgument(*cmd, options->image, options->overrides);
    addScanOptions(*cmd, options->scan);
    cmd->add_flag("--json", options->json, "Print a JSON array");
}

}  // namespace halvard::cli
