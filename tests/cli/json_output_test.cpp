// The command line's JSON arrays are written element by element; what comes out must be the same text as the
// whole array printed at once, and stay one valid array when the work ends early.
#include <gtest/gtest.h>

#include <nlohmann/json.hpp>
#include <sstream>

#include "browser/fake_view.h"
#include "cli/cli.h"
#include "cli/entry_output.h"
#include "cli/json_array_stream.h"

namespace halvard {
namespace {

using Json = nlohmann::ordered_json;

std::string streamed(const Json& array) {
    std::ostringstream out;
    {
        cli::JsonArrayStream stream(out);
        for (const auto& element : array) stream.add(element);
    }
    return out.str();
}

TEST(JsonArrayStream, WritesWhatPrintingTheWholeArrayWrites) {
    const Json nested = {{"name", "a"}, {"times", {{"created", nullptr}, {"list", {1, 2}}}}, {"empty", Json::object()}};
    for (const Json& array : {Json::array(), Json::array({nested}), Json::array({nested, 7, "x", Json::array()})})
        EXPECT_EQ(streamed(array), cli::jsonText(array) + "\n");
}

TEST(JsonArrayStream, NamesThatAreNotUtf8StayOneValidArray) {
    Json bad = {{"name", std::string("caf\xe9\xff", 5)}};
    const std::string text = streamed(Json::array({bad, bad}));
    const auto parsed = nlohmann::json::parse(text);
    ASSERT_EQ(parsed.size(), 2u);
    EXPECT_EQ(parsed[0]["name"], "caf\xEF\xBF\xBD\xEF\xBF\xBD");
}

TEST(JsonArrayStream, ALivePrinterLeftEarlyStillClosesItsArray) {
    testing::FakeView view;
    const EntryId folder = view.add(kVolumeRoot, "Docs", true);
    view.add(folder, "a.txt", false, "abc");
    view.add(folder, "b.txt", false, "", true);
    std::ostringstream out;
    {
        cli::EntryPrinter printer(out, view, cli::EntryFormat::json);
        printer.add("/Docs", folder);
        printer.add("/Docs/a.txt", 1);
        // Stopped here: no finish(), the printer simply goes out of scope.
    }
    const auto parsed = nlohmann::json::parse(out.str());
    ASSERT_EQ(parsed.size(), 2u);
    EXPECT_EQ(parsed[1]["path"], "/Docs/a.txt");
    EXPECT_EQ(parsed[1]["size"], 3);

    std::ostringstream text;
    {
        cli::EntryPrinter printer(text, view, cli::EntryFormat::lines);
        printer.add("/Docs/b.txt", 2);
    }
    EXPECT_EQ(text.str().find('['), std::string::npos) << "a text listing prints no JSON";
    EXPECT_EQ(text.str().substr(0, 2), "-X");
}

// Listings write each entry's object field by field; it must read back as the same object and print as the JSON
// library prints it, whatever bytes the names hold.
TEST(EntryJsonText, IsWhatTheJsonLibraryPrintsForEveryKindOfName) {
    testing::FakeView view;
    const std::vector<std::string> names = {"plain.txt", "quo\"te\\back", std::string("c\tl\n\x01\x1f\x7f", 7),
                                            "caf\xc3\xa9 \xe5\x86\x99", std::string("bad\xff\xfe\xc3", 6), ""};
    const EntryId folder = view.add(kVolumeRoot, "Docs", true);
    for (const std::string& name : names) view.add(folder, name, false, "abc", name.empty());
    view.entries[1].modified = CalendarTime{2024, 3, 1, 12, 0, 5};
    view.entries[2].target = "/target \"x\"";
    for (EntryId e = 0; e < view.entries.size(); ++e) {
        const std::string path = "/Docs/" + view.entries[e].name;
        const std::string text = cli::entryJsonText(view, path, e);
        const Json parsed = Json::parse(text);
        EXPECT_EQ(cli::jsonText(parsed), text) << "entry " << e;
        EXPECT_EQ(parsed["is_dir"], e == 0);
        EXPECT_EQ(parsed["deleted"], view.entries[e].deleted);
        EXPECT_EQ(parsed["id"], std::to_string(e));
        EXPECT_EQ(parsed.contains("target"), e == 2);
    }
    const Json first = Json::parse(cli::entryJsonText(view, "/Docs/plain.txt", 1));
    EXPECT_EQ(first["modified"], isoText(CalendarTime{2024, 3, 1, 12, 0, 5}));
    EXPECT_TRUE(first["created"].is_null());
    EXPECT_EQ(first["size"], 3);
    EXPECT_EQ(Json::parse(cli::entryJsonText(view, "/x", 3))["name"], std::string("c\tl\n\x01\x1f\x7f", 7));
    EXPECT_EQ(Json::parse(cli::entryJsonText(view, "/x", 5))["name"], "bad\xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBD");
}

// Timeline tools split body-file lines at '|' and take fields by position: a name must never shift them.
TEST(Bodyfile, EveryLineKeepsItsElevenFieldsAndMarksDeletedNames) {
    testing::FakeView view;
    const EntryId folder = view.add(kVolumeRoot, "a|b", true);
    const EntryId file = view.add(folder, "x|y.txt", false, "12345", true);
    view.entries[file].modified = CalendarTime{2024, 3, 1, 12, 0, 0};
    std::ostringstream out;
    cli::EntryPrinter printer(out, view, cli::EntryFormat::bodyfile);
    printer.add("/a|b", folder);
    printer.add("/a|b/x|y.txt", file);
    printer.finish();
    std::istringstream lines(out.str());
    std::vector<std::vector<std::string>> rows;
    for (std::string line; std::getline(lines, line);) {
        rows.emplace_back();
        std::istringstream fields(line);
        for (std::string field; std::getline(fields, field, '|');) rows.back().push_back(field);
    }
    ASSERT_EQ(rows.size(), 2u);
    for (const auto& row : rows) EXPECT_EQ(row.size(), 11u);
    EXPECT_EQ(rows[0][1], "/a%7Cb");
    EXPECT_EQ(rows[0][3], "d/drwxrwxrwx");
    EXPECT_EQ(rows[1][1], "/a%7Cb/x%7Cy.txt (deleted)");
    EXPECT_EQ(rows[1][6], "5");
    EXPECT_EQ(rows[1][8], std::to_string(*localUnixSeconds(CalendarTime{2024, 3, 1, 12, 0, 0})));
    EXPECT_EQ(rows[1][7], "0") << "an unknown time is 0";
}

}  // namespace
}  // namespace halvard
