#pragma once
// The signature editor's side of signature files: the texts of its fields turned into one record, checked, and
// appended to the file it holds open.
#include <cstdint>
#include <fstream>
#include <optional>
#include <string>
#include <vector>

#include "common/sinks.h"
#include "raw/signature_record.h"

namespace halvard {

// The editor's fields as typed.
struct SignatureEditorInput {
    std::string extension;
    std::string startSignature;        // "0x89,0x50,0x4E,0x47" or "89,50,4E,47"
    std::string startSignatureOffset;
    std::string endSignature;          // may be empty
    std::string endTrailerLength;      // bytes after the ending signature that belong to the file; may be empty
    std::string sizeFieldOffset;
    std::string sizeFieldLength;
    bool sizeIncludesHeader = false;
    std::string headerSize;
    std::string skipSize;
    std::string approxFileSize;
    std::string category;
};

// Comma-separated hexadecimal bytes: blanks before a number and a "0x" prefix are accepted, reading stops at the
// first non-hex character, blank pieces are skipped, a piece without digits reads as 0; the low 8 bits count.
std::vector<std::uint8_t> parseSignatureText(const std::string& text);

// A decimal number: leading blanks and a sign allowed, reading stops at the first non-digit, no digits read 0.
// Saturates instead of wrapping.
std::int64_t parseDecimalText(const std::string& text);

// The record the input describes (recordIndex left to the writer), or nullopt with the message to show.
std::optional<SignatureRecord> recordFromInput(const SignatureEditorInput& input, std::string& message);

class SignatureFileWriter {
public:
    // Creates `path` empty (replacing what it held) and keeps it open for appending. False when it cannot.
    bool create(const std::string& path);
    bool isOpen() const { return file_.is_open(); }
    const std::string& path() const { return path_; }

    // Appends one record made from `input`, numbered after the records already in the file, and shows
    // "everything initialized well....." or the reason nothing was written. True when written.
    bool append(const SignatureEditorInput& input, const Reporting& reporting);

private:
    std::ofstream file_;
    std::string path_;
    std::uint64_t length_ = 0;
};

}  // namespace halvard
