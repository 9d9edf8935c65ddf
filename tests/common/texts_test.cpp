#include <gtest/gtest.h>

#include <cstdlib>
#include <ctime>

#include "common/bytes.h"
#include "common/texts.h"
#include "common/utf16.h"

namespace halvard {
namespace {

TEST(SizeText, SwitchesUnitAtEachPowerOf1024) {
    EXPECT_EQ(sizeText(0), "0 Bytes");
    EXPECT_EQ(sizeText(1023), "1023 Bytes");
    EXPECT_EQ(sizeText(1024), "1.00 KB");
    EXPECT_EQ(sizeText(1048575), "1024.00 KB");
    EXPECT_EQ(sizeText(1048576), "1.00 MB");
    EXPECT_EQ(sizeText(1073741824LL * 3 / 2), "1.50 GB");
    EXPECT_EQ(sizeText(5LL << 40), "5120.00 GB");
    EXPECT_EQ(sizeText(-5), "-5 Bytes");
}

TEST(TimeText, TwelveHourClockAsTheListsShowIt) {
    EXPECT_EQ(timeText({2024, 3, 7, 12, 30, 0}), "03/07/2024  12:30 PM");  // noon
    EXPECT_EQ(timeText({2024, 3, 7, 0, 5, 0}), "03/07/2024  12:05 AM");    // midnight
    EXPECT_EQ(timeText({2024, 3, 7, 11, 59, 0}), "03/07/2024  11:59 AM");
    EXPECT_EQ(timeText({2024, 12, 31, 13, 5, 0}), "12/31/2024  01:05 PM");
    EXPECT_EQ(timeText({1999, 1, 1, 23, 59, 0}), "01/01/1999  11:59 PM");
    EXPECT_EQ(isoText({2024, 3, 7, 13, 5, 9}), "2024-03-07T13:05:09");
}

// Local times come from a cache of quarter hours; across the year, its offset changes included, they must be what
// the C library says. Zones with half-hour offsets and a half-hour shift are the hard ones. Each zone runs in a
// child process, as the cache belongs to the process's zone.
TEST(LocalTime, QuarterHourCacheAgreesWithTheCLibraryAcrossOffsetChanges) {
    struct Year {
        const char* zone;
        std::int64_t start;
    };
    // 2031, and 1937 in Amsterdam, whose offset was 19 minutes 32 seconds until July.
    for (const Year& year : {Year{"America/St_Johns", 1924991999}, Year{"Australia/Lord_Howe", 1924991999},
                             Year{"Europe/Berlin", 1924991999}, Year{"Asia/Kolkata", 1924991999},
                             Year{"UTC", 1924991999}, Year{"Europe/Amsterdam", -1041379200}}) {
        const char* zone = year.zone;
        EXPECT_EXIT(
            {
                setenv("TZ", zone, 1);
                tzset();
                int wrong = 0;
                for (std::int64_t t = year.start; t < year.start + 366LL * 86400 && wrong == 0; t += 613) {
                    const std::time_t seconds = t;
                    std::tm parts{};
                    localtime_r(&seconds, &parts);
                    const CalendarTime ours = localCalendarTime(t);
                    wrong += ours.year != parts.tm_year + 1900 || ours.month != parts.tm_mon + 1 ||
                             ours.day != parts.tm_mday || ours.hour != parts.tm_hour || ours.minute != parts.tm_min ||
                             ours.second != parts.tm_sec;
                }
                std::exit(wrong);
            },
            ::testing::ExitedWithCode(0), "")
            << zone;
    }
}

TEST(AttributeText, ConcatenatesSetBitsInTableOrder) {
    const std::vector<AttributeCode> table{{0x1, "-R"}, {0x2, "-H"}, {0x4, "-S"}, {0x20, "-A"}};
    EXPECT_EQ(attributeText(0x27, table), "-R-H-S-A");
    EXPECT_EQ(attributeText(0x22, table), "-H-A");
    EXPECT_EQ(attributeText(0x40, table), "");
}

TEST(FieldReaders, ReadInsideTheSpanOnly) {
    const std::uint8_t raw[] = {0x01, 0x02, 0x03, 0x04, 0x05, 0x06, 0x07, 0x08, 0x09};
    const Bytes data(raw);
    EXPECT_EQ(le16(data, 0), 0x0201);
    EXPECT_EQ(le32(data, 1), 0x05040302u);
    EXPECT_EQ(le64(data, 1), 0x0908070605040302ULL);
    EXPECT_EQ(be32(data, 0), 0x01020304u);
    EXPECT_EQ(be16(data, 7), 0x0809);
    // Any byte outside the span makes the field 0.
    EXPECT_EQ(le16(data, 8), 0);
    EXPECT_EQ(le64(data, 2), 0u);
    EXPECT_EQ(le32(data, ~0ULL - 1), 0u);
    EXPECT_FALSE(fits(data, 5, ~0ULL));
    EXPECT_TRUE(slice(data, 8, 2).empty());
    EXPECT_EQ(slice(data, 7, 2).size(), 2u);
    EXPECT_TRUE(hasSignature(data, 1, "\x02\x03"));
    EXPECT_FALSE(hasSignature(data, 8, "\x09\x0A"));
}

TEST(Utf16, DecodesNamesAndSurvivesDamage) {
    // "Aé€😀" little-endian, then a NUL and more text.
    const std::uint8_t raw[] = {'A', 0, 0xE9, 0, 0xAC, 0x20, 0x3D, 0xD8, 0x00, 0xDE, 0, 0, 'x', 0};
    EXPECT_EQ(utf16leToUtf8(Bytes(raw), 0, 5), "A\xC3\xA9\xE2\x82\xAC\xF0\x9F\x98\x80");
    EXPECT_EQ(utf16leToUtf8(Bytes(raw), 0, 7, true), "A\xC3\xA9\xE2\x82\xAC\xF0\x9F\x98\x80");
    // A count past the span is cut at the span; a lone high surrogate becomes U+FFFD.
    EXPECT_EQ(utf16leToUtf8(Bytes(raw), 12, 100), "x");
    EXPECT_EQ(utf16leToUtf8(Bytes(raw), 6, 1), "\xEF\xBF\xBD");
    EXPECT_EQ(utf16ToUtf8({0xDC00, 'a'}), "\xEF\xBF\xBD" "a");
    const std::uint8_t big[] = {0, 'H', 0, 'i'};
    EXPECT_EQ(utf16beToUtf8(Bytes(big), 0, 2), "Hi");
}

TEST(Utf16, RoundTripsThroughUtf8) {
    const std::string text = "Ordner \xC3\xBC\xE2\x82\xAC\xF0\x9F\x98\x80";
    EXPECT_EQ(utf16ToUtf8(utf8ToUtf16(text)), text);
    EXPECT_EQ(utf8ToUtf16("\xFF" "a"), (std::vector<std::uint16_t>{0xFFFD, 'a'}));
    EXPECT_EQ(utf8ToUtf16("\xE2\x82"), (std::vector<std::uint16_t>{0xFFFD, 0xFFFD}));  // cut short
}

}  // namespace
}  // namespace halvard
