#pragma once
// One check per format family (see raw/format_check.h for what a check answers).
#include "raw/format_check.h"

namespace halvard::formats {

CheckOutcome checkJpeg(CandidateBytes& bytes);
CheckOutcome checkPng(CandidateBytes& bytes);
CheckOutcome checkGif(CandidateBytes& bytes);
CheckOutcome checkBmp(CandidateBytes& bytes);
CheckOutcome checkZip(CandidateBytes& bytes);
CheckOutcome checkPdf(CandidateBytes& bytes);
CheckOutcome checkRar(CandidateBytes& bytes);
CheckOutcome checkSevenZip(CandidateBytes& bytes);
CheckOutcome checkMp3(CandidateBytes& bytes);
CheckOutcome checkRiff(CandidateBytes& bytes);
CheckOutcome checkIsoMedia(CandidateBytes& bytes);
CheckOutcome checkSqlite(CandidateBytes& bytes);

}  // namespace halvard::formats

namespace halvard::formats {

// `length` bytes from `offset`, or an empty span when the candidate ends before them.
inline Bytes exactly(CandidateBytes& bytes, std::uint64_t offset, std::size_t length) {
    const Bytes view = bytes.view(offset, length);
    return view.size() == length ? view : Bytes{};
}

}  // namespace halvard::formats
