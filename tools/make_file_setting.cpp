// Writes the default signature file, FileSetting.txt, through the signature editor's own writer, so that every
// record passes the checks a user's record passes. Run at build time: make_file_setting OUT...
//
// Order matters: a sector is claimed by the first definition whose start signature matches, so the formats
// that are ZIP files (office documents) come before ZIP itself, and the specific ISO media brands before the
// general one.
#include <cstdio>
#include <string>
#include <vector>

#include "raw/signature_editor.h"

namespace {

using halvard::SignatureEditorInput;


SignatureEditorInput endSignature(const char* extension, const char* start, const char* end, const char* approx,
                                  const char* category, const char* startOffset = "0", const char* trailer = "0") {
    SignatureEditorInput in;
    in.extension = extension;
    in.startSignature = start;
    in.startSignatureOffset = startOffset;
    in.endSignature = end;
    in.endTrailerLength = trailer;
    in.approxFileSize = approx;
    in.category = category;
    return in;
}

SignatureEditorInput approximate(const char* extension, const char* start, const char* approx, const char* category,
                                 const char* startOffset = "0") {
    return endSignature(extension, start, "", approx, category, startOffset);
}

SignatureEditorInput sizeField(const char* extension, const char* start, const char* offset, const char* length,
                               bool includesHeader, const char* headerSize, const char* approx, const char* category) {
    SignatureEditorInput in = approximate(extension, start, approx, category);
    in.sizeFieldOffset = offset;
    in.sizeFieldLength = length;
    in.sizeIncludesHeader = includesHeader;
    in.headerSize = headerSize;
    return in;
}

// A ZIP's end of central directory record: its signature, then 18 bytes (no archive comment assumed).
constexpr const char* kZipEnd = "50,4B,05,06";
constexpr const char* kZipEndTrailer = "18";

std::vector<SignatureEditorInput> defaultDefinitions() {
    return {
        // Pictures
        endSignature("jpg", "FF,D8,FF", "FF,D9", "20971520", "Pictures"),
        endSignature("png", "89,50,4E,47,0D,0A,1A,0A", "49,45,4E,44,AE,42,60,82", "20971520", "Pictures"),
        // "GIF87a" and "GIF89a"; 0x2A stands for any byte.
        endSignature("gif", "47,49,46,38,2A,61", "00,3B", "10485760", "Pictures"),
        // "BM", the size, then four reserved zero bytes; the size counts the whole file.
        sizeField("bmp", "42,4D,2A,2A,2A,2A,00,00,00,00", "2", "4", true, "0", "67108864", "Pictures"),
        // Documents: office files are ZIP archives whose first member names them.
        endSignature("docx", "5B,43,6F,6E,74,65,6E,74,5F,54", kZipEnd, "52428800", "Documents", "30", kZipEndTrailer),
        endSignature("odt", "63,75,6D,65,6E,74,2E,74,65,78", kZipEnd, "52428800", "Documents", "66", kZipEndTrailer),
        endSignature("ods", "63,75,6D,65,6E,74,2E,73,70,72", kZipEnd, "52428800", "Documents", "66", kZipEndTrailer),
        endSignature("odp", "63,75,6D,65,6E,74,2E,70,72,65", kZipEnd, "52428800", "Documents", "66", kZipEndTrailer),
        endSignature("pdf", "25,50,44,46,2D", "25,25,45,4F,46,0A", "52428800", "Documents"),
        // Archives
        endSignature("zip", "50,4B,03,04", kZipEnd, "268435456", "Archives", "0", kZipEndTrailer),
        approximate("rar", "52,61,72,21,1A,07", "67108864", "Archives"),
        approximate("7z", "37,7A,BC,AF,27,1C", "67108864", "Archives"),
        // Audio: RIFF's size field counts the file less its first 8 bytes.
        sizeField("wav", "52,49,46,46,2A,2A,2A,2A,57,41", "4", "4", false, "8", "4294967304", "Audio"),
        approximate("mp3", "49,44,33", "10485760", "Audio"),
        approximate("m4a", "66,74,79,70,4D,34,41", "104857600", "Audio", "4"),
        // Video
        sizeField("avi", "52,49,46,46,2A,2A,2A,2A,41,56", "4", "4", false, "8", "4294967304", "Video"),
        approximate("mov", "66,74,79,70,71,74", "268435456", "Video", "4"),
        approximate("mp4", "66,74,79,70", "268435456", "Video", "4"),
        // Databases: "SQLite format 3"
        approximate("db", "53,51,4C,69,74,65,20,66,6F,72", "16777216", "Databases"),
    };
}

// Collects what the writer says; only its success text is expected.
class Collect final : public halvard::MessageSink {
public:
    void information(const std::string& text) override {
        if (text != "everything initialized well.....") failures.push_back(text);
    }
    bool question(const std::string&) override { return false; }
    std::vector<std::string> failures;
};

}  // namespace

int main(int argc, char** argv) {
    if (argc < 2) {
        std::fprintf(stderr, "usage: make_file_setting OUT...\n");
        return 1;
    }
    for (int i = 1; i < argc; ++i) {
        halvard::SignatureFileWriter writer;
        if (!writer.create(argv[i])) {
            std::fprintf(stderr, "make_file_setting: cannot create %s\n", argv[i]);
            return 1;
        }
        Collect messages;
        for (const SignatureEditorInput& input : defaultDefinitions())
            writer.append(input, halvard::Reporting{nullptr, nullptr, &messages});
        for (const std::string& failure : messages.failures)
            std::fprintf(stderr, "make_file_setting: %s\n", failure.c_str());
        if (!messages.failures.empty()) return 1;
    }
    return 0;
}
