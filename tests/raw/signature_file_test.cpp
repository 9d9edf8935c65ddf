#include <gtest/gtest.h>

#include <filesystem>

#include "raw/signature_editor.h"
#include "raw/signature_file.h"
#include "support/vhdx_builder.h"

namespace halvard {
namespace {

using testing::TempDir;

class Messages final : public MessageSink {
public:
    void information(const std::string& text) override { shown.push_back(text); }
    bool question(const std::string&) override { return false; }
    Reporting reporting() { return {nullptr, nullptr, this}; }
    std::string last() const { return shown.empty() ? "" : shown.back(); }
    std::vector<std::string> shown;
};

SignatureEditorInput pngInput() {
    SignatureEditorInput in;
    in.extension = "png";
    in.startSignature = "0x89,0x50,0x4E,0x47";
    in.endSignature = "49,45,4E,44,AE,42,60,82";
    in.approxFileSize = "20971520";
    in.category = "Pictures";
    return in;
}

TEST(SignatureFile, EditorRecordsReadBackAsDefinitions) {
    TempDir dir;
    const std::string path = dir.file("mine.txt");
    testing::writeFile(path, std::vector<std::uint8_t>(500, 0xEE));  // replaced on create
    SignatureFileWriter writer;
    ASSERT_TRUE(writer.create(path));
    Messages messages;
    ASSERT_TRUE(writer.append(pngInput(), messages.reporting()));
    EXPECT_EQ(messages.last(), "everything initialized well.....");

    SignatureEditorInput wav;
    wav.extension = "wave1";                 // five characters: four kept, the typed length recorded
    wav.startSignature = " 52, 49,46,46 , ";  // no prefix, blanks, a trailing blank piece
    wav.startSignatureOffset = "  +0";
    wav.sizeFieldOffset = "4";
    wav.sizeFieldLength = "4";
    wav.headerSize = "8";
    wav.skipSize = "-3";
    wav.approxFileSize = "4294967304";
    wav.category = std::string(60, 'c');     // cut to 50 units, no terminator
    ASSERT_TRUE(writer.append(wav, messages.reporting()));
    EXPECT_EQ(std::filesystem::file_size(path), 2 * kSignatureRecordSize);

    const auto definitions = readSignatureFile(path, SignatureFileKind::User, 0, messages.reporting());
    ASSERT_TRUE(definitions);
    ASSERT_EQ(definitions->size(), 2u);
    const SignatureDefinition& png = (*definitions)[0];
    EXPECT_EQ(png.startSignature, (std::vector<std::uint8_t>{0x89, 0x50, 0x4E, 0x47}));
    EXPECT_EQ(png.endSignature.size(), 8u);
    EXPECT_EQ(png.sizeFieldOffset, -1);  // "Offset to Size Byte" left empty
    EXPECT_EQ(png.category, "Pictures");
    const SignatureDefinition& w = (*definitions)[1];
    EXPECT_EQ(w.extension, "wave");
    EXPECT_EQ(w.extensionLength, 5);
    EXPECT_EQ(w.startSignature, (std::vector<std::uint8_t>{0x52, 0x49, 0x46, 0x46}));
    EXPECT_TRUE(w.usesSizeField());
    EXPECT_EQ(w.sizeFieldOffset, 4);
    EXPECT_EQ(w.headerSize, 8);
    EXPECT_EQ(w.skipSize, -3);
    EXPECT_EQ(w.approxFileSize, 4294967304);
    EXPECT_EQ(w.category, std::string(50, 'c'));
}

TEST(SignatureFile, EditorRefusesWhatCannotBeUsed) {
    TempDir dir;
    SignatureFileWriter writer;
    Messages messages;
    EXPECT_FALSE(writer.append(pngInput(), messages.reporting()));
    EXPECT_EQ(messages.last(), "Select valid file to save the entries.");

    ASSERT_TRUE(writer.create(dir.file("mine.txt")));
    const std::vector<std::pair<void (*)(SignatureEditorInput&), std::string>> cases{
        {[](SignatureEditorInput& in) { in.extension.clear(); }, "extention length is zero.."},
        {[](SignatureEditorInput& in) { in.startSignature = " , ,"; }, "signature length is zero.."},
        {[](SignatureEditorInput& in) { in.endSignature = "1,2,3,4,5,6,7,8,9,10,11"; },
         "A signature holds at most 10 bytes.."},
        {[](SignatureEditorInput& in) { in.startSignatureOffset = "510"; },
         "The starting signature must lie within the first 512 bytes of the file.."},
        {[](SignatureEditorInput& in) {
             in.endSignature.clear();
             in.sizeFieldOffset = "510";
             in.sizeFieldLength = "4";
         },
         "The size field must lie within the first 512 bytes of the file and take 1 to 8 bytes.."},
    };
    for (const auto& [change, message] : cases) {
        SignatureEditorInput in = pngInput();
        change(in);
        EXPECT_FALSE(writer.append(in, messages.reporting())) << message;
        EXPECT_EQ(messages.last(), message);
    }
    EXPECT_EQ(std::filesystem::file_size(dir.file("mine.txt")), 0u);
}

TEST(SignatureFile, ReaderCountsByTheLastIndexAndRefusesDamagedFiles) {
    TempDir dir;
    const std::string path = dir.file("three.txt");
    SignatureFileWriter writer;
    Messages messages;
    ASSERT_TRUE(writer.create(path));
    for (int i = 0; i < 3; ++i) writer.append(pngInput(), messages.reporting());
    std::vector<std::uint8_t> bytes = testing::readFile(path);
    bytes[2 * kSignatureRecordSize + 0x23] = 1;  // the last record's index edited to 1
    testing::writeFile(path, bytes);
    auto definitions = readSignatureFile(path, SignatureFileKind::User, 0, messages.reporting());
    ASSERT_TRUE(definitions);
    EXPECT_EQ(definitions->size(), 2u);

    messages.shown.clear();
    EXPECT_FALSE(readSignatureFile(path, SignatureFileKind::User, 255, messages.reporting()));
    EXPECT_NE(messages.last().find("at most 256"), std::string::npos);

    bytes[2 * kSignatureRecordSize + 0x28] = 9;  // a user file whose last size field takes 9 bytes
    testing::writeFile(path, bytes);
    EXPECT_FALSE(readSignatureFile(path, SignatureFileKind::User, 0, messages.reporting()));
    EXPECT_EQ(messages.last(), "Please select a valid file..");

    testing::writeFile(path, std::vector<std::uint8_t>(100, 0));
    EXPECT_FALSE(readSignatureFile(path, SignatureFileKind::Default, 0, messages.reporting()));
    EXPECT_EQ(messages.last(), "Please select a valid file..");

    messages.shown.clear();
    EXPECT_FALSE(readSignatureFile(dir.file("none.txt"), SignatureFileKind::Default, 0, messages.reporting()));
    EXPECT_TRUE(messages.shown.empty());
    EXPECT_FALSE(readSignatureFile(dir.file("none.txt"), SignatureFileKind::User, 0, messages.reporting()));
    EXPECT_EQ(messages.last(), "Cannot open the selected file");
}

}  // namespace
}  // namespace halvard
