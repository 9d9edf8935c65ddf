#include "image/vmdk_inflate.h"

#include <array>
#include <cstring>

namespace halvard::vmdk {

namespace {

constexpr int kMaxBits = 15;
constexpr int kMaxLengthCodes = 286;
constexpr int kMaxDistanceCodes = 30;
constexpr int kFixedLengthCodes = 288;

struct State {
    Bytes in;
    std::size_t inPos = 0;
    std::uint32_t bitBuffer = 0;
    int bitCount = 0;
    bool overrun = false;  // the input ended inside the stream
    std::span<std::uint8_t> out;
    std::size_t outPos = 0;

    // `need` bits (at most 16), least significant first; 0 once the input has run out.
    int bits(int need) {
        std::uint32_t value = bitBuffer;
        while (bitCount < need) {
            if (inPos >= in.size()) {
                overrun = true;
                return 0;
            }
            value |= static_cast<std::uint32_t>(in[inPos++]) << bitCount;
            bitCount += 8;
        }
        bitBuffer = value >> need;
        bitCount -= need;
        return static_cast<int>(value & ((1U << need) - 1));
    }
};

// Canonical Huffman code: how many codes of each length, and the symbols in code order.
struct Huffman {
    std::array<std::uint16_t, kMaxBits + 1> count{};
    std::array<std::uint16_t, kFixedLengthCodes> symbol{};
};

// 0 for a complete code, > 0 for an incomplete one, < 0 for an over-subscribed one.
int construct(Huffman& h, const std::uint16_t* length, int n) {
    h.count.fill(0);
    for (int s = 0; s < n; ++s) ++h.count[length[s]];
    if (h.count[0] == n) return 0;  // no codes at all: decoding any symbol then fails
    int left = 1;
    for (int len = 1; len <= kMaxBits; ++len) {
        left <<= 1;
        left -= h.count[len];
        if (left < 0) return left;
    }
    std::array<std::uint16_t, kMaxBits + 1> offsets{};
    for (int len = 1; len < kMaxBits; ++len) offsets[len + 1] = static_cast<std::uint16_t>(offsets[len] + h.count[len]);
    for (int s = 0; s < n; ++s)
        if (length[s] != 0) h.symbol[offsets[length[s]]++] = static_cast<std::uint16_t>(s);
    return left;
}

// The next symbol, or -1 when the input ends or the bits match no code.
int decode(State& s, const Huffman& h) {
    int code = 0, first = 0, index = 0;
    for (int len = 1; len <= kMaxBits; ++len) {
        code |= s.bits(1);
        if (s.overrun) return -1;
        const int count = h.count[len];
        if (code - count < first) return h.symbol[static_cast<std::size_t>(index + (code - first))];
        index += count;
        first += count;
        first <<= 1;
        code <<= 1;
    }
    return -1;
}

bool stored(State& s) {
    s.bitBuffer = 0;  // the rest of the current byte is padding
    s.bitCount = 0;
    if (s.in.size() - s.inPos < 4) return false;
    const std::size_t length = s.in[s.inPos] | (s.in[s.inPos + 1] << 8);
    const std::size_t complement = s.in[s.inPos + 2] | (s.in[s.inPos + 3] << 8);
    s.inPos += 4;
    if (length != (~complement & 0xFFFF)) return false;
    if (s.in.size() - s.inPos < length || s.out.size() - s.outPos < length) return false;
    if (length) std::memcpy(s.out.data() + s.outPos, s.in.data() + s.inPos, length);
    s.inPos += length;
    s.outPos += length;
    return true;
}

bool codes(State& s, const Huffman& lengths, const Huffman& distances) {
    static constexpr std::uint16_t kLengthBase[29] = {3,  4,  5,  6,  7,  8,  9,  10, 11,  13,  15,  17,  19,  23, 27,
                                                      31, 35, 43, 51, 59, 67, 83, 99, 115, 131, 163, 195, 227, 258};
    static constexpr std::uint8_t kLengthExtra[29] = {0, 0, 0, 0, 0, 0, 0, 0, 1, 1, 1, 1, 2, 2, 2,
                                                      2, 3, 3, 3, 3, 4, 4, 4, 4, 5, 5, 5, 5, 0};
    static constexpr std::uint16_t kDistanceBase[30] = {1,    2,    3,    4,    5,    7,     9,     13,    17,  25,
                                                        33,   49,   65,   97,   129,  193,   257,   385,   513, 769,
                                                        1025, 1537, 2049, 3073, 4097, 6145, 8193, 12289, 16385, 24577};
    static constexpr std::uint8_t kDistanceExtra[30] = {0, 0, 0, 0, 1, 1, 2, 2,  3,  3,  4,  4,  5,  5,  6,
                                                        6, 7, 7, 8, 8, 9, 9, 10, 10, 11, 11, 12, 12, 13, 13};
    for (;;) {
        int symbol = decode(s, lengths);
        if (symbol < 0) return false;
        if (symbol < 256) {
            if (s.outPos >= s.out.size()) return false;
            s.out[s.outPos++] = static_cast<std::uint8_t>(symbol);
            continue;
        }
        if (symbol == 256) return true;
        symbol -= 257;
        if (symbol >= 29) return false;
        std::size_t length = kLengthBase[symbol] + static_cast<std::size_t>(s.bits(kLengthExtra[symbol]));
        const int d = decode(s, distances);
        if (d < 0 || d >= kMaxDistanceCodes) return false;
        const std::size_t distance = kDistanceBase[d] + static_cast<std::size_t>(s.bits(kDistanceExtra[d]));
        if (s.overrun || distance > s.outPos || length > s.out.size() - s.outPos) return false;
        for (; length; --length, ++s.outPos) s.out[s.outPos] = s.out[s.outPos - distance];
    }
}

bool fixedBlock(State& s) {
    static const auto tables = [] {
        std::pair<Huffman, Huffman> t;
        std::uint16_t lengths[kFixedLengthCodes];
        int i = 0;
        for (; i < 144; ++i) lengths[i] = 8;
        for (; i < 256; ++i) lengths[i] = 9;
        for (; i < 280; ++i) lengths[i] = 7;
        for (; i < kFixedLengthCodes; ++i) lengths[i] = 8;
        construct(t.first, lengths, kFixedLengthCodes);
        for (i = 0; i < kMaxDistanceCodes; ++i) lengths[i] = 5;
        construct(t.second, lengths, kMaxDistanceCodes);
        return t;
    }();
    return codes(s, tables.first, tables.second);
}

bool dynamicBlock(State& s) {
    static constexpr std::uint8_t kOrder[19] = {16, 17, 18, 0, 8, 7, 9, 6, 10, 5, 11, 4, 12, 3, 13, 2, 14, 1, 15};
    const int lengthCount = s.bits(5) + 257;
    const int distanceCount = s.bits(5) + 1;
    const int codeCount = s.bits(4) + 4;
    if (s.overrun || lengthCount > kMaxLengthCodes || distanceCount > kMaxDistanceCodes) return false;

    std::uint16_t lengths[kMaxLengthCodes + kMaxDistanceCodes] = {};
    for (int i = 0; i < codeCount; ++i) lengths[kOrder[i]] = static_cast<std::uint16_t>(s.bits(3));
    Huffman lengthCode, distanceCode;
    if (construct(lengthCode, lengths, 19) != 0) return false;  // the code-length code must be complete

    int index = 0;
    while (index < lengthCount + distanceCount) {
        int symbol = decode(s, lengthCode);
        if (symbol < 0) return false;
        if (symbol < 16) {
            lengths[index++] = static_cast<std::uint16_t>(symbol);
            continue;
        }
        std::uint16_t repeated = 0;
        if (symbol == 16) {
            if (index == 0) return false;
            repeated = lengths[index - 1];
            symbol = 3 + s.bits(2);
        } else if (symbol == 17) {
            symbol = 3 + s.bits(3);
        } else {
            symbol = 11 + s.bits(7);
        }
        if (s.overrun || index + symbol > lengthCount + distanceCount) return false;
        while (symbol--) lengths[index++] = repeated;
    }
    if (lengths[256] == 0) return false;  // no end-of-block code

    // Incomplete codes are allowed only when they hold a single code.
    int left = construct(lengthCode, lengths, lengthCount);
    if (left < 0 || (left > 0 && lengthCount - lengthCode.count[0] != 1)) return false;
    left = construct(distanceCode, lengths + lengthCount, distanceCount);
    if (left < 0 || (left > 0 && distanceCount - distanceCode.count[0] != 1)) return false;
    return codes(s, lengthCode, distanceCode);
}

std::uint32_t adler32(Bytes data) {
    std::uint32_t a = 1, b = 0;
    for (std::size_t i = 0; i < data.size();) {
        const std::size_t end = std::min(data.size(), i + 5552);  // no overflow before the modulo
        for (; i < end; ++i) {
            a += data[i];
            b += a;
        }
        a %= 65521;
        b %= 65521;
    }
    return (b << 16) | a;
}

}  // namespace

InflateResult inflate(Bytes in, std::span<std::uint8_t> out) {
    State s;
    s.in = in;
    s.out = out;
    const bool zlib = in.size() >= 2 && (in[0] & 0x0F) == 8 && (in[0] >> 4) <= 7 && ((in[0] << 8) | in[1]) % 31 == 0;
    if (zlib) {
        if (in[1] & 0x20) return {};  // a preset dictionary: never used for disk data
        s.inPos = 2;
    }
    InflateResult result;
    for (;;) {
        const int last = s.bits(1);
        const int type = s.bits(2);
        bool ok = false;
        if (!s.overrun) {
            if (type == 0) ok = stored(s);
            else if (type == 1) ok = fixedBlock(s);
            else if (type == 2) ok = dynamicBlock(s);
        }
        result.produced = s.outPos;
        if (!ok) return result;
        if (last) break;
    }
    if (zlib) {
        // The checksum follows on the next byte boundary.
        if (s.in.size() - s.inPos < 4) return result;
        const std::uint32_t stated = be32(in, s.inPos);
        if (stated != adler32(Bytes(out.data(), s.outPos))) return result;
    }
    result.ok = true;
    return result;
}

}  // namespace halvard::vmdk
