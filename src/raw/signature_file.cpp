#include "raw/signature_file.h"

#include <filesystem>
#include <fstream>
#include <system_error>

#include "common/program_files.h"
#include "common/utf16.h"

namespace halvard {

namespace {

constexpr const char* kInvalidFile = "Please select a valid file..";
// The last record must start within the first MiB: a larger file is not a signature file.
constexpr std::uint64_t kLastRecordLimit = 1048576;

std::string utf8Of(const std::vector<std::uint16_t>& units) { return utf16ToUtf8(units); }

}  // namespace

std::string defaultSignaturePath() { return programDataFile(kDefaultSignatureFileName); }

std::string signatureRecordProblem(const SignatureRecord& r) {
    if (r.startSignature.size() > kMaxSignatureLength || r.endSignature.size() > kMaxSignatureLength)
        return "A signature holds at most 10 bytes..";
    if (r.startSignatureOffset < 0 ||
        r.startSignatureOffset + static_cast<std::int64_t>(r.startSignature.size()) > kHeaderSectorSize)
        return "The starting signature must lie within the first 512 bytes of the file..";
    if (r.endSignature.empty() && r.sizeFieldLength >= 1 &&
        (r.sizeFieldOffset <= 0 || r.sizeFieldLength > 8 ||
         static_cast<std::int64_t>(r.sizeFieldOffset) + r.sizeFieldLength > kHeaderSectorSize))
        return "The size field must lie within the first 512 bytes of the file and take 1 to 8 bytes..";
    if (r.endTrailerLength < 0 || r.endTrailerLength > 65536)
        return "The bytes after the ending signature must be 0 to 65536..";
    return {};
}

SignatureDefinition definitionFromRecord(const SignatureRecord& r) {
    SignatureDefinition d;
    d.extension = utf8Of(r.extension);
    d.extensionLength = r.extensionLength;
    d.startSignature = r.startSignature;
    d.endSignature = r.endSignature;
    d.startSignatureOffset = r.startSignatureOffset;
    d.sizeFieldOffset = r.sizeFieldOffset > 0 ? r.sizeFieldOffset : -1;
    d.sizeFieldLength = r.sizeFieldLength;
    d.headerSize = r.headerSize;
    d.sizeIncludesHeader = r.sizeIncludesHeader;
    d.endTrailerLength = r.endTrailerLength;
    d.approxFileSize = r.approxFileSize;
    d.skipSize = r.skipSize;
    d.category = utf8Of(r.category);
    return d;
}

std::optional<std::vector<SignatureDefinition>> readSignatureFile(const std::string& path, SignatureFileKind kind,
                                                                  std::size_t alreadyLoaded,
                                                                  const Reporting& reporting) {
    std::ifstream file(path, std::ios::binary);
    if (!file) {
        if (kind == SignatureFileKind::User) reporting.inform("Cannot open the selected file");
        return std::nullopt;
    }
    std::error_code ec;
    const std::uint64_t length = std::filesystem::file_size(path, ec);
    if (ec || length < kSignatureRecordSize || length - kSignatureRecordSize > kLastRecordLimit) {
        reporting.inform(kInvalidFile);
        return std::nullopt;
    }
    SignatureRecordBytes bytes{};
    file.seekg(static_cast<std::streamoff>(length - kSignatureRecordSize));
    if (!file.read(reinterpret_cast<char*>(bytes.data()), bytes.size())) {
        reporting.inform(kInvalidFile);
        return std::nullopt;
    }
    const SignatureRecord last = decodeSignatureRecord(bytes).record;
    const std::size_t count = std::size_t{last.recordIndex} + 1;
    if ((kind == SignatureFileKind::User && last.sizeFieldLength > 8) || count * kSignatureRecordSize > length) {
        reporting.inform(kInvalidFile);
        return std::nullopt;
    }
    if (alreadyLoaded + count > kMaxDefinitions) {
        reporting.inform("Too many signatures: at most 256 can be loaded together, and " + path + " would make " +
                         std::to_string(alreadyLoaded + count) + ".");
        return std::nullopt;
    }

    std::vector<SignatureDefinition> definitions;
    file.seekg(0);
    for (std::size_t i = 0; i < count; ++i) {
        if (!file.read(reinterpret_cast<char*>(bytes.data()), bytes.size())) {
            reporting.inform(kInvalidFile);
            return std::nullopt;
        }
        const DecodedSignatureRecord decoded = decodeSignatureRecord(bytes);
        std::string problem = signatureRecordProblem(decoded.record);
        if (decoded.startLengthStored > kMaxSignatureLength || decoded.endLengthStored > kMaxSignatureLength)
            problem = "A signature holds at most 10 bytes..";
        if (!problem.empty()) {
            reporting.inform("Entry " + std::to_string(i) + " (" + utf8Of(decoded.record.extension) + ") of " +
                             path + " is left out: " + problem);
            continue;
        }
        definitions.push_back(definitionFromRecord(decoded.record));
        if (kind == SignatureFileKind::Default)
            definitions.back().formatCheck = formatCheckFor(definitions.back());
    }
    return definitions;
}

}  // namespace halvard
