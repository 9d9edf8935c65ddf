#include "cli/volume_selection.h"

#include <charconv>

#include "cli/interrupt_stop.h"
#include "cli/terminal_reporting.h"
#include "volume/partition.h"
#include "volume/volume_choices.h"

namespace halvard::cli {

void addScanOptions(CLI::App& command, ScanOptions& options) {
    command.add_flag("--gpt", options.gpt, "Walk the GPT (found by itself when sector 1 says \"EFI PART\")");
    command.add_flag("--advanced", options.advanced, "Scan the whole disk for boot sectors instead of the tables");
    command.add_option("--start", options.start, "Advanced scan: first sector")->check(CLI::NonNegativeNumber);
    command.add_option("--end", options.end, "Advanced scan: last sector")->check(CLI::NonNegativeNumber);
    command.add_flag("--no-skip", options.noSkip,
                     "Advanced scan: go on inside each volume found (finds backup boot sectors, older volumes)");
}

std::vector<VolumeRecord> scanVolumes(const DevicePtr& disk, const ScanOptions& options, const Streams& streams,
                                      bool* stopped) {
    std::vector<VolumeRecord> records;
    TerminalReporting terminal(streams.err, streams.errIsTerminal);
    Partition scanner(records);
    InterruptStop interrupt;
    interrupt.forwardTo(scanner.stopRequested);
    scanner.reporting = {&terminal, &terminal, nullptr};
    if (options.advanced) {
        scanner.volumeSizeFlag = !options.noSkip;
        scanner.startSector = options.start;
        scanner.endSector = options.end;
        scanner.advancedScan(disk, sectorsOf(*disk));
    } else {
        scanner.gptFlag = options.gpt;
        if (!options.gpt) {
            std::vector<std::uint8_t> header(512);
            if (disk->readAt(disk->logicalSectorSize(), header.data(), header.size()) &&
                hasSignature(header, 0, "EFI PART")) {
                scanner.gptFlag = true;
                terminal.finish();
                streams.err << "halvard: sector 1 holds a GPT header; walking the GPT\n";
            }
        }
        scanner.standardScan(disk);
    }
    terminal.finish();
    if (stopped) *stopped = interrupt.interrupted();
    // The list numbers the volumes by their place in it.
    for (std::size_t i = 0; i < records.size(); ++i) records[i].volumeName = std::to_string(i);
    return records;
}

std::optional<VolumeRecord> selectVolume(const DevicePtr& disk, const std::string& volume,
                                         const ScanOptions& options, const Streams& streams) {
    if (volume.rfind("custom:", 0) == 0) {
        std::string error;
        auto record = parseCustomVolume(volume, error);
        if (!record) {
            printError(streams, "--volume " + volume + ": " + error);
            return record;
        }
        // Only the disk's sectors can be read: a volume running past its end is cut there (a start past it
        // leaves nothing to read).
        const std::uint64_t diskSectors = sectorsOf(*disk);
        const std::uint64_t sectors = volumeSectors(*record);
        if (diskSectors != 0 && static_cast<std::uint64_t>(record->startSector) >= diskSectors) {
            printError(streams, "--volume " + volume + ": START is past the disk's end (" + std::to_string(diskSectors) +
                                    " sectors)");
            return std::nullopt;
        }
        if (diskSectors != 0 && sectors > diskSectors - static_cast<std::uint64_t>(record->startSector)) {
            record->note = cutAtDiskEndNote(sectors, diskSectors, record->startSector);
            record->sectorCount = diskSectors - static_cast<std::uint64_t>(record->startSector);
            record->sizeText = std::to_string(wholeMiB(record->sectorCount));
            streams.err << "halvard: note: volume " << volume << " " << record->note << '\n';
        }
        record->device = volumeDevice(disk, *record);
        return record;
    }
    std::size_t index = 0;
    const auto [end, ec] = std::from_chars(volume.data(), volume.data() + volume.size(), index);
    if (ec != std::errc() || end != volume.data() + volume.size()) {
        printError(streams, "--volume takes a VOLUME number from 'halvard volumes' or custom:FS:START:SIZE_MB");
        return std::nullopt;
    }
    bool stopped = false;
    const std::vector<VolumeRecord> records = scanVolumes(disk, options, streams, &stopped);
    if (stopped) {
        printError(streams, "stopped while scanning the disk for volumes");
        return std::nullopt;
    }
    if (index >= records.size()) {
        printError(streams, "there is no volume " + volume + " (the scan found " + std::to_string(records.size()) +
                                ")");
        return std::nullopt;
    }
    if (!records[index].note.empty())
        streams.err << "halvard: note: volume " << index << " " << records[index].note << '\n';
    return records[index];
}

}  // namespace halvard::cli
