#pragma once
// CarvingEngine: finds files in a volume by their signatures. It reads the volume in 1 MiB blocks, compares the start of
// every sector with the start signatures, searches the data after a pending start for its end signature, and
// records each carved file as a result {start, length} with an item under its category in the tree.
#include <cstdint>
#include <functional>
#include <map>
#include <string>
#include <vector>

#include "common/sinks.h"
#include "common/tree_control.h"
#include "common/worker.h"
#include "image/device.h"
#include "raw/signature_definition.h"

namespace halvard {

// Whether a carved file passed its format's check: NotChecked for definitions without one (carved by signatures
// only), Damaged when the check could not decide and the signatures gave the length.
enum class CarveValidation : std::uint8_t { NotChecked, Validated, Damaged };

// "validated", "damaged" or "not checked": how the raw recovery page names a file's check result.
const char* validationLabel(CarveValidation validation);

struct CarveResult {
    std::uint64_t startOffset = 0;  // bytes from the start of the scanned area
    std::int64_t length = 0;
    std::uint16_t definition = 0;   // index into the engine's definitions
    std::string name;               // "<start> .<extension>", as the tree shows it
    CarveValidation validation = CarveValidation::NotChecked;
};

class CarvingEngine {
public:
    static constexpr std::uint64_t kBlockSize = 1048576;

    // Appends definitions in load order and numbers them. Refused (false, nothing added) past 256 in all.
    bool addDefinitions(std::vector<SignatureDefinition> definitions);
    const std::vector<SignatureDefinition>& definitions() const { return definitions_; }

    void setVolumeSize(std::uint64_t bytes) { volumeSize_ = bytes; }
    // The volume to scan, its offsets counted from the volume's start.
    void setDevice(const Device* device) { reader_ = device; }
    void setTreeControl(TreeControl* tree) { tree_ = tree; }
    void setReporting(const Reporting& reporting) { reporting_ = reporting; }
    void setStopPoll(StopPoll poll) { stop_ = poll; }
    // Told of each result as it is recorded, so that a caller can show it before the scan ends.
    void setResultObserver(std::function<void(const CarveResult&)> observer) { observer_ = std::move(observer); }

    // The whole scan. `outputPath` is only kept for the page; nothing is written. False when the match table
    // cannot be built ("not properly initialized"). Results accumulate over repeated scans.
    bool carveVolume(const std::string& outputPath);

    const std::vector<CarveResult>& results() const { return results_; }
    const std::string& outputPath() const { return outputPath_; }
    const std::map<std::string, std::int64_t>& categoryCounts() const { return categoryCounts_; }
    // Candidates whose format check rejected them as look-alikes: not among the results.
    std::uint64_t droppedCount() const { return dropped_; }
    // Bytes of the last scan jumped over because the image does not store them.
    std::uint64_t skippedBytes() const { return skippedBytes_; }

private:
    struct MatchEntry {
        std::uint8_t length = 0;
        std::uint16_t definition = 0;
        std::uint16_t offset = 0;
        std::uint8_t bytes[10] = {};
    };

    bool buildMatchTable();
    void indexStartEntries();
    void prepareTree();
    void readBlock(std::uint64_t blockStart, std::vector<std::uint8_t>& buffer);
    // Examines the sector at `o` of the block; sets next_ to the next offset to examine.
    void examineSector(const std::vector<std::uint8_t>& buffer, std::uint64_t blockStart, std::uint64_t o);
    int matchStart(const std::uint8_t* window) const;
    // Whether a start or end signature matches bytes of zeros: then unstored parts must be read like the rest.
    bool signaturesMatchZeros() const;
    // Runs the definition's format check on the candidate at `at`: true when that settled it (carved whole to
    // its exact length, or dropped); false when the signatures must decide.
    bool settledByFormatCheck(std::size_t definition, std::uint64_t at);
    void carveBySizeField(const SignatureDefinition& d, const std::uint8_t* window, std::uint64_t at);
    void searchEnds(const std::vector<std::uint8_t>& buffer, std::uint64_t blockStart, std::uint64_t o);
    void settleLeftoverStarts(std::size_t definition);
    void record(std::size_t definition, std::uint64_t start, std::int64_t length, bool validated = false);

    std::vector<SignatureDefinition> definitions_;
    std::vector<MatchEntry> startEntries_;
    // The start entries by the first byte of their signature that is no wildcard, at each position in the sector
    // where such a byte stands: most sectors match no entry's first byte, and are done with in a few look-ups.
    struct FirstByteIndex {
        std::uint16_t position = 0;
        std::vector<std::vector<std::uint16_t>> entries = std::vector<std::vector<std::uint16_t>>(256);  // by byte
    };
    std::vector<FirstByteIndex> firstByteIndex_;
    std::vector<std::uint16_t> allWildcardEntries_;  // signatures of wildcards only match any sector
    // A start still waiting for its end signature, with the start found after it (0: none yet), where an
    // unpaired file must end at the latest.
    struct PendingStart {
        std::uint64_t start = 0;
        std::uint64_t nextStart = 0;
    };
    std::vector<std::vector<PendingStart>> pendingStarts_;
    std::vector<std::uint64_t> endSearchFrom_;  // per definition: ends are searched from here on
    std::vector<CarveResult> results_;
    std::map<std::string, std::int64_t> categoryCounts_;
    std::uint64_t dropped_ = 0;
    std::uint64_t skippedBytes_ = 0;
    std::uint64_t checkBytesLeft_ = 0;  // what the format checks may still read in this scan
    std::uint64_t volumeSize_ = 0;
    std::uint64_t next_ = 0;  // offset of the next sector to examine
    const Device* reader_ = nullptr;
    TreeControl* tree_ = nullptr;
    Reporting reporting_;
    StopPoll stop_;
    std::function<void(const CarveResult&)> observer_;
    std::string outputPath_;
};

}  // namespace halvard
