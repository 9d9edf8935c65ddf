#include "raw/formats/jpeg_scan.h"

#include <algorithm>
#include <bit>

namespace halvard::formats {

namespace {

constexpr int kLookBits = 9;
// Whole bytes an encoder may leave after a scan's last block or before a restart marker. The usual encoders
// leave none (only the bits that fill the last byte); a piece of another picture leaves many.
constexpr int kSlackBytes = 2;
// Progressive refinement needs one word per block of a component; a frame larger than this is walked without
// its refinement scans.
constexpr std::uint64_t kMaxTrackedBlocks = std::uint64_t{1} << 21;

std::uint32_t ceilDiv(std::uint32_t a, std::uint32_t b) { return (a + b - 1) / b; }

}  // namespace

// The scan's bits, with stuffed zero bytes taken out. It stops at the first marker (a restart marker included)
// or the candidate's end; past it, the buffer fills with one-bits counted as made up, and a code read from them
// marks the walk as run past the data.
class JpegScanWalker::Bits {
public:
    Bits(CandidateBytes& bytes, std::uint64_t from) : bytes_(bytes), at_(from) {}

    std::uint32_t peek(int n) {
        if (count_ < n) fill();
        return static_cast<std::uint32_t>(acc_ >> (count_ - n)) & ((1U << n) - 1);
    }
    void skip(int n) {
        count_ -= n;
        if (count_ < made_) over_ = true;
    }
    std::uint32_t get(int n) {
        if (n == 0) return 0;
        const std::uint32_t v = peek(n);
        skip(n);
        return v;
    }
    bool over() const { return over_; }

    int decode(const Table& t) {
        const std::uint16_t e = t.look[peek(kLookBits)];
        if (e != 0) {
            skip(e >> 8);
            return e & 0xFF;
        }
        const std::int32_t code = static_cast<std::int32_t>(peek(16));
        for (int length = kLookBits + 1; length <= 16; ++length) {
            const std::int32_t c = code >> (16 - length);
            if (c <= t.maxCode[static_cast<std::size_t>(length)]) {
                skip(length);
                return t.values[static_cast<std::size_t>(t.valueIndex[static_cast<std::size_t>(length)] + c -
                                                         t.minCode[static_cast<std::size_t>(length)])];
            }
        }
        return -1;
    }

    // At the end of a restart interval or of the scan: only the bits that fill the last byte (and a little
    // slack) may be left before the marker. The offset of that marker, or nullopt.
    std::optional<std::uint64_t> endOfData() {
        fill();
        if (!stopped_ || over_ || count_ - made_ >= 8 * (1 + kSlackBytes)) return std::nullopt;
        return at_;
    }
    // Steps over the restart marker `n` (0..7) that must come next.
    bool restart(int n) {
        const auto marker = endOfData();
        if (!marker || byteAt(*marker + 1) != 0xD0 + n) return false;
        at_ = *marker + 2;
        acc_ = 0;
        count_ = made_ = 0;
        stopped_ = false;
        return true;
    }

private:
    int byteAt(std::uint64_t offset) {
        if (offset < chunkStart_ || offset >= chunkStart_ + chunk_.size()) {
            chunk_ = bytes_.view(offset, CandidateBytes::kMaxView);
            chunkStart_ = offset;
            if (chunk_.empty()) return -1;
        }
        return chunk_[static_cast<std::size_t>(offset - chunkStart_)];
    }

    void fill() {
        // Straight from the view while no FF comes: the usual case, a byte at a time without the checks below.
        if (!stopped_ && at_ >= chunkStart_ && at_ - chunkStart_ + 8 <= chunk_.size()) {
            const std::uint8_t* p = chunk_.data() + (at_ - chunkStart_);
            const std::uint8_t* const start = p;
            while (count_ <= 56 && *p != 0xFF) {
                acc_ = acc_ << 8 | *p++;
                count_ += 8;
            }
            at_ += static_cast<std::uint64_t>(p - start);
            if (count_ > 56) return;
        }
        while (count_ <= 56) {
            int byte = stopped_ ? -1 : byteAt(at_);
            if (byte == 0xFF) {
                if (byteAt(at_ + 1) == 0x00) {
                    at_ += 2;
                } else {
                    byte = -1;  // a marker (or the candidate ends inside one)
                }
            } else if (byte >= 0) {
                ++at_;
            }
            if (byte < 0) {
                stopped_ = true;
                byte = 0xFF;
                made_ += 8;
            }
            acc_ = acc_ << 8 | static_cast<std::uint64_t>(byte);
            count_ += 8;
        }
    }

    CandidateBytes& bytes_;
    Bytes chunk_;
    std::uint64_t chunkStart_ = 0;
    std::uint64_t at_;
    std::uint64_t acc_ = 0;
    int count_ = 0;  // bits in acc_, the lowest made_ of them made up
    int made_ = 0;
    bool stopped_ = false;
    bool over_ = false;
};

bool JpegScanWalker::takeHuffmanTables(Bytes payload) {
    std::size_t p = 0;
    while (p < payload.size()) {
        if (p + 17 > payload.size()) return false;
        const std::uint8_t classAndId = payload[p];
        if ((classAndId >> 4) > 1 || (classAndId & 0x0F) > 3) return false;
        Table& t = tables_[static_cast<std::size_t>((classAndId >> 4) * 4 + (classAndId & 0x0F))];
        t = Table{};
        std::size_t total = 0;
        for (int i = 1; i <= 16; ++i) total += payload[p + static_cast<std::size_t>(i)];
        if (total > 256 || p + 17 + total > payload.size()) return false;
        std::int32_t code = 0, index = 0;
        for (int length = 1; length <= 16; ++length) {
            const auto l = static_cast<std::size_t>(length);
            const int count = payload[p + l];
            // The code of all one-bits is never given (a decoder reading past the data meets it).
            if (code + count >= (1 << length)) return false;
            t.minCode[l] = code;
            t.valueIndex[l] = index;
            for (int i = 0; i < count; ++i, ++code, ++index) {
                const std::uint8_t value = payload[p + 17 + static_cast<std::size_t>(index)];
                t.values[static_cast<std::size_t>(index)] = value;
                if (length <= kLookBits) {
                    const int shift = kLookBits - length;
                    for (int fillIn = 0; fillIn < (1 << shift); ++fillIn)
                        t.look[static_cast<std::size_t>((code << shift) | fillIn)] =
                            static_cast<std::uint16_t>(length << 8 | value);
                }
            }
            t.maxCode[l] = count ? code - 1 : -1;
            code <<= 1;
        }
        t.defined = true;
        p += 17 + total;
    }
    return true;
}

bool JpegScanWalker::takeFrame(std::uint8_t marker, Bytes payload) {
    walkable_ = false;
    haveFrame_ = true;
    components_.clear();
    if (payload.size() < 6) return false;
    height_ = be16(payload, 1);
    width_ = be16(payload, 3);
    const std::size_t count = payload[5];
    if (count < 1 || count > 4 || payload.size() < 6 + 3 * count || width_ == 0) return false;
    hMax_ = vMax_ = 1;
    for (std::size_t i = 0; i < count; ++i) {
        Component c;
        c.id = payload[6 + 3 * i];
        c.h = payload[7 + 3 * i] >> 4;
        c.v = payload[7 + 3 * i] & 0x0F;
        if (c.h < 1 || c.h > 4 || c.v < 1 || c.v > 4) return false;
        hMax_ = std::max(hMax_, c.h);
        vMax_ = std::max(vMax_, c.v);
        components_.push_back(std::move(c));
    }
    for (Component& c : components_) {
        c.blocksWide = ceilDiv(ceilDiv(width_ * c.h, hMax_), 8);
        c.blocksHigh = ceilDiv(ceilDiv(height_ * c.v, vMax_), 8);
    }
    // Huffman-coded sequential and progressive frames; lossless, hierarchical and arithmetic-coded ones are
    // not walked, nor a frame whose height comes after the first scan.
    progressive_ = marker == 0xC2;
    walkable_ = (marker == 0xC0 || marker == 0xC1 || marker == 0xC2) && height_ != 0;
    return true;
}

bool JpegScanWalker::takeRestartInterval(Bytes payload) {
    if (payload.size() < 2) return false;
    restartInterval_ = be16(payload, 0);
    return true;
}

std::optional<std::uint64_t> JpegScanWalker::walkScan(Bytes payload, CandidateBytes& bytes, std::uint64_t from) {
    if (payload.empty()) return std::nullopt;
    const std::size_t count = payload[0];
    if (count < 1 || count > 4 || payload.size() < 1 + 2 * count + 3) return std::nullopt;
    struct Part {
        Component* component;
        const Table* dc;
        const Table* ac;
    };
    std::array<Part, 4> parts{};
    std::uint32_t blocksPerUnit = 0;
    for (std::size_t i = 0; i < count; ++i) {
        const std::uint8_t id = payload[1 + 2 * i], tables = payload[2 + 2 * i];
        const auto c = std::find_if(components_.begin(), components_.end(), [&](const Component& k) { return k.id == id; });
        if (c == components_.end() || (tables >> 4) > 3 || (tables & 0x0F) > 3) return std::nullopt;
        parts[i] = {&*c, &tables_[tables >> 4], &tables_[4 + (tables & 0x0F)]};
        blocksPerUnit += count > 1 ? c->h * c->v : 1;
    }
    const std::uint32_t ss = payload[1 + 2 * count], se = payload[2 + 2 * count];
    const std::uint32_t ah = payload[3 + 2 * count] >> 4;
    enum class Kind { Sequential, DcFirst, DcRefine, AcFirst, AcRefine } kind = Kind::Sequential;
    if (progressive_) {
        if (ss == 0) {
            if (se != 0) return std::nullopt;
            kind = ah == 0 ? Kind::DcFirst : Kind::DcRefine;
        } else {
            if (count != 1 || se < ss || se > 63) return std::nullopt;
            kind = ah == 0 ? Kind::AcFirst : Kind::AcRefine;
        }
    }
    for (std::size_t i = 0; i < count; ++i) {
        const bool dc = kind == Kind::Sequential || kind == Kind::DcFirst;
        const bool ac = kind == Kind::Sequential || kind == Kind::AcFirst || kind == Kind::AcRefine;
        if ((dc && !parts[i].dc->defined) || (ac && !parts[i].ac->defined)) return std::nullopt;
    }
    Component& only = *parts[0].component;
    const std::uint64_t units = count > 1 ? std::uint64_t{ceilDiv(width_, 8 * hMax_)} * ceilDiv(height_, 8 * vMax_)
                                          : std::uint64_t{only.blocksWide} * only.blocksHigh;
    // Refinement of AC coefficients reads one bit per coefficient already set: what the earlier scans set is
    // kept per block.
    const bool tracked = (kind == Kind::AcFirst || kind == Kind::AcRefine) && units <= kMaxTrackedBlocks;
    if (kind == Kind::AcRefine && !tracked) return from;  // too large to follow: left unchecked
    if (tracked && only.nonzero.size() != units) only.nonzero.assign(static_cast<std::size_t>(units), 0);

    Bits bits(bytes, from);
    std::uint32_t eobRun = 0;
    for (std::uint64_t unit = 0; unit < units; ++unit) {
        if (restartInterval_ && unit > 0 && unit % restartInterval_ == 0) {
            if (!bits.restart(static_cast<int>((unit / restartInterval_ - 1) & 7))) return std::nullopt;
            eobRun = 0;
        }
        for (std::size_t i = 0; i < count; ++i) {
            const Part& part = parts[i];
            const std::uint32_t blocks = count > 1 ? part.component->h * part.component->v : 1;
            for (std::uint32_t b = 0; b < blocks; ++b) {
                if (kind == Kind::Sequential || kind == Kind::DcFirst) {
                    const int s = bits.decode(*part.dc);
                    if (s < 0 || s > 15) return std::nullopt;
                    bits.get(s);
                }
                if (kind == Kind::Sequential) {
                    for (int k = 1; k < 64;) {
                        const int rs = bits.decode(*part.ac);
                        if (rs < 0) return std::nullopt;
                        const int r = rs >> 4, s = rs & 15;
                        if (s == 0) {
                            if (r != 15) break;  // end of block
                            k += 16;
                            if (k > 64) return std::nullopt;
                            continue;
                        }
                        k += r;
                        if (k > 63) return std::nullopt;
                        bits.get(s);
                        ++k;
                    }
                } else if (kind == Kind::DcRefine) {
                    bits.get(1);
                } else if (kind == Kind::AcFirst) {
                    std::uint64_t* set = tracked ? &only.nonzero[static_cast<std::size_t>(unit)] : nullptr;
                    if (eobRun > 0) {
                        --eobRun;
                        continue;
                    }
                    for (std::uint32_t k = ss; k <= se;) {
                        const int rs = bits.decode(*part.ac);
                        if (rs < 0) return std::nullopt;
                        const std::uint32_t r = static_cast<std::uint32_t>(rs) >> 4, s = rs & 15;
                        if (s == 0) {
                            if (r != 15) {
                                eobRun = (1U << r) + bits.get(static_cast<int>(r)) - 1;
                                break;
                            }
                            k += 16;
                            if (k > se + 1) return std::nullopt;
                            continue;
                        }
                        k += r;
                        if (k > se) return std::nullopt;
                        bits.get(static_cast<int>(s));
                        if (set) *set |= std::uint64_t{1} << k;
                        ++k;
                    }
                } else if (kind == Kind::AcRefine) {
                    std::uint64_t& set = only.nonzero[static_cast<std::size_t>(unit)];
                    // The coefficients ss..se.
                    const std::uint64_t band = (se == 63 ? ~std::uint64_t{0} : (std::uint64_t{1} << (se + 1)) - 1) &
                                               ~((std::uint64_t{1} << ss) - 1);
                    std::uint32_t k = ss;
                    if (eobRun == 0) {
                        for (; k <= se; ++k) {
                            const int rs = bits.decode(*part.ac);
                            if (rs < 0) return std::nullopt;
                            int r = rs >> 4;
                            const int s = rs & 15;
                            if (s != 0) {
                                if (s != 1) return std::nullopt;
                                bits.get(1);
                            } else if (r != 15) {
                                eobRun = (1U << r) + bits.get(r);
                                break;
                            }
                            // The run passes r zero coefficients and stops at the next zero one (or the band's
                            // end); each set coefficient passed takes a correction bit.
                            const std::uint64_t from = band & ~((std::uint64_t{1} << k) - 1);
                            std::uint64_t zeros = ~set & from;
                            for (; r > 0 && zeros; --r) zeros &= zeros - 1;
                            const std::uint32_t stop = zeros ? static_cast<std::uint32_t>(std::countr_zero(zeros)) : se + 1;
                            const std::uint64_t below = stop >= 64 ? ~std::uint64_t{0} : (std::uint64_t{1} << stop) - 1;
                            for (int n = std::popcount(set & from & below); n > 0; n -= 16) bits.get(std::min(n, 16));
                            k = stop;
                            if (s != 0) {
                                if (k > se) return std::nullopt;
                                set |= std::uint64_t{1} << k;
                            }
                        }
                    }
                    if (eobRun > 0) {
                        // One correction bit per set coefficient left in the band, taken together.
                        if (k <= se) {
                            const std::uint64_t rest = band & ~((std::uint64_t{1} << k) - 1);
                            for (int n = std::popcount(set & rest); n > 0; n -= 16) bits.get(std::min(n, 16));
                        }
                        --eobRun;
                    }
                }
            }
        }
        if (bits.over()) return std::nullopt;
    }
    return bits.endOfData();
}

}  // namespace halvard::formats
