#pragma once
// Format checks: for the formats the default signature file names, a check that reads a candidate's structure
// from its first byte, confirms the format or rejects a look-alike, and gives the file's exact length where the
// format tells it. A check that meets a broken structure after a believable start cannot decide: the file may
// be the user's, damaged or cut short.
#include <cstdint>
#include <string_view>

#include "raw/candidate_bytes.h"

namespace halvard {

enum class FormatCheck : std::uint8_t {
    None,  // carved by its signatures only
    Jpeg,
    Png,
    Gif,
    Bmp,
    Zip,  // ZIP and the office formats stored in one
    Pdf,
    Rar,
    SevenZip,
    Mp3,
    Riff,      // WAV and AVI
    IsoMedia,  // MP4, MOV, M4A
    Sqlite,
};

enum class CheckVerdict : std::uint8_t { Confirmed, Rejected, Undecided };

struct CheckOutcome {
    CheckVerdict verdict = CheckVerdict::Undecided;
    std::uint64_t length = 0;  // the file's exact length when confirmed

    static CheckOutcome confirmed(std::uint64_t length) { return {CheckVerdict::Confirmed, length}; }
    static CheckOutcome rejected() { return {CheckVerdict::Rejected, 0}; }
    static CheckOutcome undecided() { return {CheckVerdict::Undecided, 0}; }
};

struct SignatureDefinition;

// The check for a definition of the default signature file (same extension, start signature and offset); None
// for every other definition.
FormatCheck formatCheckFor(const SignatureDefinition& definition);

// Runs `check` over the candidate. A confirmed length never exceeds the candidate's limit.
CheckOutcome runFormatCheck(FormatCheck check, CandidateBytes& bytes);

}  // namespace halvard
