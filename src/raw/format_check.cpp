#include "raw/format_check.h"

#include <array>
#include <utility>

#include "raw/formats/format_checks.h"

namespace halvard {

FormatCheck formatCheckForExtension(std::string_view extension) {
    static constexpr std::array<std::pair<std::string_view, FormatCheck>, 19> kChecks{{
        {"jpg", FormatCheck::Jpeg},      {"png", FormatCheck::Png},      {"gif", FormatCheck::Gif},
        {"bmp", FormatCheck::Bmp},       {"zip", FormatCheck::Zip},      {"docx", FormatCheck::Zip},
        {"odt", FormatCheck::Zip},       {"ods", FormatCheck::Zip},      {"odp", FormatCheck::Zip},
        {"pdf", FormatCheck::Pdf},       {"rar", FormatCheck::Rar},      {"7z", FormatCheck::SevenZip},
        {"mp3", FormatCheck::Mp3},       {"wav", FormatCheck::Riff},     {"avi", FormatCheck::Riff},
        {"mp4", FormatCheck::IsoMedia},  {"mov", FormatCheck::IsoMedia}, {"m4a", FormatCheck::IsoMedia},
        {"db", FormatCheck::Sqlite},
    }};
    for (const auto& [name, check] : kChecks)
        if (name == extension) return check;
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
