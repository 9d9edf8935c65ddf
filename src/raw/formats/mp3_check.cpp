// MP3: the ID3v2 tag (its size is sync-safe), then MPEG audio frames, each length following from its header, as
// long as they keep the first frame's version, layer and sample rate; an ID3v1 tag may close the file.
#include <array>

#include "raw/formats/format_checks.h"

namespace halvard::formats {

namespace {

// Zero padding some writers leave after the tag, beyond the size it declares.
constexpr std::uint64_t kLargestPadding = 65536;

struct Frame {
    std::uint8_t layout = 0;  // version, layer and sample-rate bits: every frame of a file shares them
    std::uint64_t length = 0;
};

std::optional<Frame> frameAt(Bytes header) {
    if (header.size() < 4 || header[0] != 0xFF || (header[1] & 0xE0) != 0xE0) return std::nullopt;
    const int version = (header[1] >> 3) & 3;  // 0: 2.5, 2: 2, 3: 1
    const int layer = (header[1] >> 1) & 3;    // 1: III, 2: II, 3: I
    const int bitrateIndex = header[2] >> 4;
    const int rateIndex = (header[2] >> 2) & 3;
    if (version == 1 || layer == 0 || bitrateIndex == 0 || bitrateIndex == 15 || rateIndex == 3) return std::nullopt;
    static constexpr std::array<std::array<std::uint16_t, 15>, 5> kBitrates{{
        {0, 32, 64, 96, 128, 160, 192, 224, 256, 288, 320, 352, 384, 416, 448},  // MPEG 1 layer I
        {0, 32, 48, 56, 64, 80, 96, 112, 128, 160, 192, 224, 256, 320, 384},     // MPEG 1 layer II
        {0, 32, 40, 48, 56, 64, 80, 96, 112, 128, 160, 192, 224, 256, 320},      // MPEG 1 layer III
        {0, 32, 48, 56, 64, 80, 96, 112, 128, 144, 160, 176, 192, 224, 256},     // MPEG 2, 2.5 layer I
        {0, 8, 16, 24, 32, 40, 48, 56, 64, 80, 96, 112, 128, 144, 160},          // MPEG 2, 2.5 layers II, III
    }};
    static constexpr std::array<std::uint32_t, 3> kRates{44100, 48000, 32000};
    const bool mpeg1 = version == 3;
    const int table = mpeg1 ? 3 - layer : (layer == 3 ? 3 : 4);
    const std::uint64_t bitrate = kBitrates[static_cast<std::size_t>(table)][static_cast<std::size_t>(bitrateIndex)] * 1000ULL;
    const std::uint64_t rate = kRates[static_cast<std::size_t>(rateIndex)] >> (mpeg1 ? 0 : version == 2 ? 1 : 2);
    const std::uint64_t padding = (header[2] >> 1) & 1;
    Frame frame;
    frame.layout = static_cast<std::uint8_t>((header[1] & 0x1E) << 2 | rateIndex);
    if (layer == 3)
        frame.length = (12 * bitrate / rate + padding) * 4;
    else
        frame.length = (layer == 1 && !mpeg1 ? 72 : 144) * bitrate / rate + padding;
    return frame;
}

}  // namespace

CheckOutcome checkMp3(CandidateBytes& bytes) {
    const Bytes tag = exactly(bytes, 0, 10);
    if (tag.empty() || !hasSignature(tag, 0, "ID3") || tag[3] < 2 || tag[3] > 4 || tag[4] == 0xFF ||
        (tag[6] | tag[7] | tag[8] | tag[9]) & 0x80)
        return CheckOutcome::rejected();
    const std::uint64_t size = std::uint64_t{tag[6]} << 21 | std::uint64_t{tag[7]} << 14 | std::uint64_t{tag[8]} << 7 | tag[9];
    std::uint64_t at = 10 + size + ((tag[3] == 4 && (tag[5] & 0x10)) ? 10 : 0);
    for (const std::uint64_t last = at + kLargestPadding; at < last;) {
        const Bytes zero = exactly(bytes, at, 1);
        if (zero.empty() || zero[0] != 0) break;
        ++at;
    }
    std::optional<std::uint8_t> layout;
    std::uint64_t frames = 0;
    for (;;) {
        const Bytes header = exactly(bytes, at, 4);
        if (header.empty() && at < bytes.limit()) return CheckOutcome::undecided();  // cut inside a header
        const auto frame = frameAt(header);
        if (!frame || (layout && *layout != frame->layout)) break;
        // The last frame must be whole.
        if (exactly(bytes, at + frame->length - 1, 1).empty()) return CheckOutcome::undecided();
        layout = frame->layout;
        at += frame->length;
        ++frames;
    }
    if (frames == 0) return CheckOutcome::undecided();
    const Bytes v1 = exactly(bytes, at, 3);
    if (!v1.empty() && hasSignature(v1, 0, "TAG") && !exactly(bytes, at + 127, 1).empty()) at += 128;
    return CheckOutcome::confirmed(at);
}

}  // namespace halvard::formats
