#include "common/utf16.h"

namespace halvard {

namespace {

constexpr char32_t kReplacement = 0xFFFD;

template <typename Fetch>
std::string decode(std::uint64_t count, bool stopAtNul, Fetch fetch) {
    std::string out;
    out.reserve(count);
    for (std::uint64_t i = 0; i < count; ++i) {
        const std::uint16_t unit = fetch(i);
        if (unit == 0 && stopAtNul) break;
        if (unit >= 0xD800 && unit <= 0xDBFF) {
            if (i + 1 < count) {
                const std::uint16_t low = fetch(i + 1);
                if (low >= 0xDC00 && low <= 0xDFFF) {
                    appendUtf8(out, 0x10000 + ((static_cast<char32_t>(unit) - 0xD800) << 10) + (low - 0xDC00));
                    ++i;
                    continue;
                }
            }
            appendUtf8(out, kReplacement);
        } else if (unit >= 0xDC00 && unit <= 0xDFFF) {
            appendUtf8(out, kReplacement);
        } else {
            appendUtf8(out, unit);
        }
    }
    return out;
}

}  // namespace

void appendUtf8(std::string& out, char32_t cp) {
    if (cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) cp = kReplacement;
    if (cp < 0x80) {
        out += static_cast<char>(cp);
    } else if (cp < 0x800) {
        out += static_cast<char>(0xC0 | (cp >> 6));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    } else if (cp < 0x10000) {
        out += static_cast<char>(0xE0 | (cp >> 12));
        out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    } else {
        out += static_cast<char>(0xF0 | (cp >> 18));
        out += static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
        out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    }
}

std::string utf16ToUtf8(const std::vector<std::uint16_t>& units) {
    return decode(units.size(), false, [&](std::uint64_t i) { return units[i]; });
}

std::string utf16leToUtf8(Bytes data, std::uint64_t offset, std::uint64_t units, bool stopAtNul) {
    const std::uint64_t available = offset <= data.size() ? (data.size() - offset) / 2 : 0;
    if (units > available) units = available;
    return decode(units, stopAtNul, [&](std::uint64_t i) { return le16(data, offset + 2 * i); });
}

std::string utf16beToUtf8(Bytes data, std::uint64_t offset, std::uint64_t units, bool stopAtNul) {
    const std::uint64_t available = offset <= data.size() ? (data.size() - offset) / 2 : 0;
    if (units > available) units = available;
    return decode(units, stopAtNul, [&](std::uint64_t i) { return be16(data, offset + 2 * i); });
}

std::vector<std::uint16_t> utf8ToUtf16(std::string_view text) {
    std::vector<std::uint16_t> out;
    std::size_t i = 0;
    while (i < text.size()) {
        const auto lead = static_cast<unsigned char>(text[i]);
        char32_t cp = kReplacement;
        std::size_t length = 1;
        if (lead < 0x80) {
            cp = lead;
        } else if ((lead >> 5) == 0x6) {
            length = 2;
        } else if ((lead >> 4) == 0xE) {
            length = 3;
        } else if ((lead >> 3) == 0x1E) {
            length = 4;
        }
        if (length > 1) {
            if (i + length > text.size()) {
                length = 1;
            } else {
                cp = lead & (0xFF >> (length + 1));
                for (std::size_t k = 1; k < length; ++k) {
                    const auto next = static_cast<unsigned char>(text[i + k]);
                    if ((next & 0xC0) != 0x80) {
                        cp = kReplacement;
                        length = 1;
                        break;
                    }
                    cp = (cp << 6) | (next & 0x3F);
                }
            }
        }
        if (cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) cp = kReplacement;
        if (cp >= 0x10000) {
            cp -= 0x10000;
            out.push_back(static_cast<std::uint16_t>(0xD800 + (cp >> 10)));
            out.push_back(static_cast<std::uint16_t>(0xDC00 + (cp & 0x3FF)));
        } else {
            out.push_back(static_cast<std::uint16_t>(cp));
        }
        i += length;
    }
    return out;
}

}  // namespace halvard
