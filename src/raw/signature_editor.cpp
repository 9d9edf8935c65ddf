#include "raw/signature_editor.h"

#include <algorithm>
#include <cctype>
#include <limits>

#include "common/utf16.h"
#include "raw/signature_file.h"

namespace halvard {

namespace {

std::size_t skipBlanks(const std::string& text, std::size_t i) {
    while (i < text.size() && std::isspace(static_cast<unsigned char>(text[i]))) ++i;
    return i;
}

std::int32_t toInt32(std::int64_t value) {
    if (value > std::numeric_limits<std::int32_t>::max()) return std::numeric_limits<std::int32_t>::max();
    if (value < std::numeric_limits<std::int32_t>::min()) return std::numeric_limits<std::int32_t>::min();
    return static_cast<std::int32_t>(value);
}

}  // namespace

std::vector<std::uint8_t> parseSignatureText(const std::string& text) {
    std::vector<std::uint8_t> bytes;
    std::size_t start = 0;
    while (start <= text.size()) {
        std::size_t end = text.find(',', start);
        if (end == std::string::npos) end = text.size();
        std::size_t i = skipBlanks(text, start);
        if (i < end) {  // blank pieces add no byte
            if (i + 1 < end && text[i] == '0' && (text[i + 1] == 'x' || text[i + 1] == 'X')) i += 2;
            unsigned value = 0;
            while (i < end && std::isxdigit(static_cast<unsigned char>(text[i]))) {
                const char c = static_cast<char>(std::tolower(static_cast<unsigned char>(text[i])));
                value = (value << 4 | static_cast<unsigned>(c <= '9' ? c - '0' : c - 'a' + 10)) & 0xFFFu;
                ++i;
            }
            bytes.push_back(static_cast<std::uint8_t>(value & 0xFF));
        }
        start = end + 1;
    }
    return bytes;
}

std::int64_t parseDecimalText(const std::string& text) {
    std::size_t i = skipBlanks(text, 0);
    bool negative = false;
    if (i < text.size() && (text[i] == '+' || text[i] == '-')) negative = text[i++] == '-';
    constexpr std::int64_t kMax = std::numeric_limits<std::int64_t>::max();
    std::int64_t value = 0;
    for (; i < text.size() && std::isdigit(static_cast<unsigned char>(text[i])); ++i) {
        const int digit = text[i] - '0';
        value = value > (kMax - digit) / 10 ? kMax : value * 10 + digit;
    }
    return negative ? -value : value;
}

std::optional<SignatureRecord> recordFromInput(const SignatureEditorInput& in, std::string& message) {
    SignatureRecord r;
    const std::vector<std::uint16_t> extension = utf8ToUtf16(in.extension);
    if (extension.empty()) {
        message = "extention length is zero..";
        return std::nullopt;
    }
    r.extension.assign(extension.begin(), extension.begin() + std::min(extension.size(), kExtensionUnits));
    r.extensionLength = static_cast<std::uint8_t>(extension.size() & 0xFF);
    r.startSignature = parseSignatureText(in.startSignature);
    if (r.startSignature.empty()) {
        message = "signature length is zero..";
        return std::nullopt;
    }
    r.endSignature = parseSignatureText(in.endSignature);
    if (const std::int64_t offset = parseDecimalText(in.sizeFieldOffset); offset != 0) r.sizeFieldOffset = toInt32(offset);
    const std::int64_t startOffset = parseDecimalText(in.startSignatureOffset);
    r.startSignatureOffset = static_cast<std::int16_t>(std::clamp<std::int64_t>(startOffset, -32768, 32767));
    r.skipSize = parseDecimalText(in.skipSize);
    r.sizeFieldLength = toInt32(parseDecimalText(in.sizeFieldLength));
    r.sizeIncludesHeader = in.sizeIncludesHeader;
    r.headerSize = toInt32(parseDecimalText(in.headerSize));
    r.approxFileSize = parseDecimalText(in.approxFileSize);
    r.endTrailerLength = toInt32(parseDecimalText(in.endTrailerLength));
    const std::vector<std::uint16_t> category = utf8ToUtf16(in.category);
    r.category.assign(category.begin(), category.begin() + std::min(category.size(), kCategoryUnits));
    message = signatureRecordProblem(r);
    if (!message.empty()) return std::nullopt;
    return r;
}

bool SignatureFileWriter::create(const std::string& path) {
    file_.close();
    file_.clear();
    path_.clear();
    length_ = 0;
    file_.open(path, std::ios::binary | std::ios::trunc);
    if (!file_) return false;
    path_ = path;
    return true;
}

bool SignatureFileWriter::append(const SignatureEditorInput& input, const Reporting& reporting) {
    if (!isOpen()) {
        reporting.inform("Select valid file to save the entries.");
        return false;
    }
    const std::uint64_t index = length_ / kSignatureRecordSize;
    if (index >= kMaxDefinitions) {
        reporting.inform("This file already holds 256 entries, as many as a signature file can..");
        return false;
    }
    std::string message;
    std::optional<SignatureRecord> record = recordFromInput(input, message);
    if (!record) {
        reporting.inform(message);
        return false;
    }
    record->recordIndex = static_cast<std::uint8_t>(index);
    const SignatureRecordBytes bytes = encodeSignatureRecord(*record);
    file_.write(reinterpret_cast<const char*>(bytes.data()), bytes.size());
    file_.flush();
    if (!file_) {
        reporting.inform("The entry could not be written to " + path_ + ".");
        return false;
    }
    length_ += bytes.size();
    reporting.inform("everything initialized well.....");
    return true;
}

}  // namespace halvard
