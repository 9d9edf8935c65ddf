#pragma once
// Checksum lists of a save: one "HASH  NAME" line per saved file, as sha256sum and md5sum write them, so that a
// recovery can be checked later with `sha256sum -c FILE` (and `md5sum -c FILE.md5`) run in the output folder.
#include <cstdio>
#include <memory>
#include <string>

namespace halvard::cli {

class SaveHashes {
public:
    // Creates FILE (SHA-256 lines) and FILE.md5 (MD5 lines); the names in them are relative to `outputFolder`.
    // Returns why not, or an empty text.
    std::string open(const std::string& file, const std::string& outputFolder);
    // Reads a saved host file back and adds its lines. Links and other non-regular files are passed over (the
    // checkers would follow them). Returns why not, or an empty text.
    std::string add(const std::string& hostPath);
    // Flushes and closes both lists. Returns why not, or an empty text.
    std::string finish();

private:
    struct FileCloser {
        void operator()(std::FILE* f) const { std::fclose(f); }
    };
    std::unique_ptr<std::FILE, FileCloser> sha256_, md5_;
    std::string sha256Name_, md5Name_, folderPrefix_;
};

// The name as a checksum line carries it: backslashes and line breaks escaped, and the line then starts with a
// backslash (what sha256sum -c expects).
std::string checksumLine(const std::string& hexDigest, const std::string& name);

}  // namespace halvard::cli
