#include "raw/format_check.h"

#include <algorithm>
#include <array>
#include <utility>

#include "raw/formats/format_checks.h"
#include "raw/signature_definition.h"

namespace halvard {

FormatCheck formatCheckFor(const SignatureDefinition& definition) {
    // The default file's definitions, by extension, start signature (0x2A: any byte) and its offset: a
    // definition that differs is someone's own and keeps to its signatures.
    struct BuiltIn {
        std::string_view extension;
        std::string_view start;
        std::int32_t offset;
        FormatCheck check;
    };
    static constexpr std::array<BuiltIn, 19> kBuiltIns{{
        {"jpg", "\xFF\xD8\xFF", 0, FormatCheck::Jpeg},
        {"png", "\x89PNG\r\n\x1A\n", 0, FormatCheck::Png},
        {"gif", "GIF8*a", 0, FormatCheck::Gif},
        {"bmp", std::string_view("BM****\0\0\0\0", 10), 0, FormatCheck::Bmp},
        {"docx", "[Content_T", 30, FormatCheck::Zip},
        {"odt", "cument.tex", 66, FormatCheck::Zip},
        {"ods", "cument.spr", 66, FormatCheck::Zip},
        {"odp", "cument.pre", 66, FormatCheck::Zip},
        {"pdf", "%PDF-", 0, FormatCheck::Pdf},
        {"zip", "PK\x03\x04", 0, FormatCheck::Zip},
        {"rar", "Rar!\x1A\x07", 0, FormatCheck::Rar},
        {"7z", "7z\xBC\xAF\x27\x1C", 0, FormatCheck::SevenZip},
        {"wav", "RIFF****WA", 0, FormatCheck::Riff},
        {"mp3", "ID3", 0, FormatCheck::Mp3},
        {"m4a", "ftypM4A", 4, FormatCheck::IsoMedia},
        {"avi", "RIFF****AV", 0, FormatCheck::Riff},
        {"mov", "ftypqt", 4, FormatCheck::IsoMedia},
        {"mp4", "ftyp", 4, FormatCheck::IsoMedia},
        {"db", "SQLite for", 0, FormatCheck::Sqlite},
    }};
    for (const BuiltIn& b : kBuiltIns)
        if (b.extension == definition.extension && b.offset == definition.startSignatureOffset &&
            std::equal(b.start.begin(), b.start.end(), definition.startSignature.begin(),
                       definition.startSignature.end(),
                       [](char x, std::uint8_t y) { return static_cast<std::uint8_t>(x) == y; }))
            return b.check;
    return FormatCheck::None;
}

CheckOutcome runFormatCheck(FormatCheck check, CandidateBytes& bytes) {
    CheckOutcome outcome;
    switch (check) {
        case FormatCheck::None: return CheckOutcome::undecided();
        case FormatCheck::Jpeg: outcome = formats::checkJpeg(bytes); break;
        case FormatCheck::Png: outcome = formats::checkPng(bytes); break;
        case FormatCheck::Gif: outcome = formats::checkGif(bytes); break;
        case FormatCheck::Bmp: outcome = formats::checkBmp(bytes); break;
        case FormatCheck::Zip: outcome = formats::checkZip(bytes); break;
        case FormatCheck::Pdf: outcome = formats::checkPdf(bytes); break;
        case FormatCheck::Rar: outcome = formats::checkRar(bytes); break;
        case FormatCheck::SevenZip: outcome = formats::checkSevenZip(bytes); break;
        case FormatCheck::Mp3: outcome = formats::checkMp3(bytes); break;
        case FormatCheck::Riff: outcome = formats::checkRiff(bytes); break;
        case FormatCheck::IsoMedia: outcome = formats::checkIsoMedia(bytes); break;
        case FormatCheck::Sqlite: outcome = formats::checkSqlite(bytes); break;
    }
    // A length past the limit is a file the volume or the expected size cannot hold whole.
    if (outcome.verdict == CheckVerdict::Confirmed && (outcome.length == 0 || outcome.length > bytes.limit()))
        return CheckOutcome::undecided();
    return outcome;
}

}  // namespace halvard
