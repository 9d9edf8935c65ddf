// One MFT record: the update-sequence fixup, attribute headers, resident values, run lists and attribute lists.
#include <vector>

#include "fs/ntfs/data_runs.h"
#include "fs/ntfs/mft_record.h"
#include "fs/ntfs/ntfs_engine.h"

using namespace halvard;
using namespace halvard::ntfs_format;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size > 4096) return 0;
    std::vector<std::uint8_t> record(data, data + size);
    applyFixups(record);
    const Bytes bytes(record.data(), record.size());
    MftRecordHeader::read(bytes);
    for (const AttributeHeader& header : readAttributeHeaders(bytes)) {
        header.name(bytes);
        const Bytes value = header.value(bytes);
        if (header.type == kFileName) FileNameValue::read(value);
        if (header.type == kStandardInformation) StandardInformation::read(value);
        if (header.nonResident) {
            const std::uint64_t limit = header.lastVcn >= header.firstVcn ? header.lastVcn - header.firstVcn + 1 : 0;
            const RunListDecoding decoding = decodeRunList(header.runList(bytes), limit);
            const RunMap map(decoding.runs, header.firstVcn);
            map.find(header.firstVcn);
            map.find(map.endVcn() / 2);
            map.totalClusters();
            NtfsEngine::clusterNumbers(map, header.firstVcn, 64);
        }
    }
    NtfsEngine::fileTimes(bytes);
    NtfsEngine::describeData(bytes);
    std::uint64_t clusters = 0;
    NtfsEngine::attributeRuns(bytes, kData, &clusters);
    NtfsEngine::attributeRuns(bytes, kAttributeList, &clusters);
    return 0;
}
