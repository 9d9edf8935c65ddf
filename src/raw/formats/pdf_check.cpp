// PDF: the header, then the `%%EOF` markers. One counts when the `startxref` before it points at a
// cross-reference section ("xref") or stream ("N G obj") inside the file. An incremental update follows its
// predecessor's `%%EOF` directly with an object or a section, so the file ends at the last counted marker that no
// update follows; an update cut before its marker leaves the file undecided. Markers inside streams (an embedded PDF's own) point elsewhere and are passed over.
#include <cctype>
#include <string_view>

#include "raw/formats/format_checks.h"

namespace halvard::formats {

namespace {

constexpr std::string_view kEnd = "%%EOF";
constexpr std::size_t kTrailerLookBack = 64;

bool isSpace(std::uint8_t c) { return c == ' ' || c == '\r' || c == '\n' || c == '\t' || c == '\f' || c == 0; }
bool isDigit(std::uint8_t c) { return c >= '0' && c <= '9'; }

// Reads "N G obj" or "xref" at the start of `text` (after white space when `skipSpace`).
bool opensSectionOrObject(Bytes text, bool skipSpace) {
    std::size_t p = 0;
    if (skipSpace)
        while (p < text.size() && isSpace(text[p])) ++p;
    if (hasSignature(text, p, "xref")) return true;
    for (int number = 0; number < 2; ++number) {
        const std::size_t digits = p;
        while (p < text.size() && isDigit(text[p])) ++p;
        if (p == digits || p >= text.size() || !isSpace(text[p])) return false;
        while (p < text.size() && isSpace(text[p])) ++p;
    }
    return hasSignature(text, p, "obj");
}

struct Trailer {
    std::uint64_t crossReference = 0;
    std::size_t lineEnd = 0;  // the length of the line end the trailer uses (1 or 2)
};

// The `startxref` value standing before the marker at `marker`, with the trailer's line end.
std::optional<Trailer> trailerBefore(CandidateBytes& bytes, std::uint64_t marker) {
    const std::size_t back = static_cast<std::size_t>(std::min<std::uint64_t>(marker, kTrailerLookBack));
    const Bytes text = exactly(bytes, marker - back, back);
    constexpr std::string_view keyword = "startxref";
    std::size_t at = text.size();
    for (std::size_t p = 0; p + keyword.size() <= text.size(); ++p)
        if (hasSignature(text, p, keyword)) at = p;
    if (at == text.size()) return std::nullopt;
    std::size_t p = at + keyword.size();
    Trailer trailer;
    trailer.lineEnd = hasSignature(text, p, "\r\n") ? 2 : 1;
    while (p < text.size() && isSpace(text[p])) ++p;
    std::size_t digits = 0;
    for (; p < text.size() && isDigit(text[p]) && digits < 19; ++p, ++digits)
        trailer.crossReference = trailer.crossReference * 10 + (text[p] - '0');
    if (digits == 0) return std::nullopt;
    for (; p < text.size(); ++p)
        if (!isSpace(text[p])) return std::nullopt;
    return trailer;
}

}  // namespace

CheckOutcome checkPdf(CandidateBytes& bytes) {
    const Bytes head = exactly(bytes, 0, 8);
    if (head.empty() || !hasSignature(head, 0, "%PDF-") || !isDigit(head[5]) || head[6] != '.' || !isDigit(head[7]))
        return CheckOutcome::rejected();
    std::optional<std::uint64_t> end;
    bool updateFollows = false;
    std::uint64_t from = 8;
    while (const auto marker = bytes.find(kEnd, from, bytes.limit())) {
        from = *marker + kEnd.size();
        const auto trailer = trailerBefore(bytes, *marker);
        if (!trailer || trailer->crossReference >= *marker ||
            !opensSectionOrObject(bytes.view(trailer->crossReference, 64), false))
            continue;
        std::uint64_t after = from;
        const Bytes lineEnd = bytes.view(after, trailer->lineEnd);
        if (lineEnd.size() == trailer->lineEnd &&
            (trailer->lineEnd == 2 ? hasSignature(lineEnd, 0, "\r\n") : (lineEnd[0] == '\n' || lineEnd[0] == '\r')))
            after += trailer->lineEnd;
        end = after;
        updateFollows = opensSectionOrObject(bytes.view(after, 64), true);
        if (!updateFollows) break;
    }
    // An update that never reaches its own end was cut short.
    return end && !updateFollows ? CheckOutcome::confirmed(*end) : CheckOutcome::undecided();
}

}  // namespace halvard::formats
