#include "cli/save_hashes.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <openssl/evp.h>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace halvard::cli {

namespace {

struct DigestContext {
    DigestContext() : context(EVP_MD_CTX_new()) {}
    ~DigestContext() { EVP_MD_CTX_free(context); }
    DigestContext(const DigestContext&) = delete;
    DigestContext& operator=(const DigestContext&) = delete;
    EVP_MD_CTX* context;
};

std::string hexOf(const unsigned char* bytes, unsigned length) {
    static const char digits[] = "0123456789abcdef";
    std::string hex;
    hex.reserve(length * 2);
    for (unsigned i = 0; i < length; ++i) {
        hex += digits[bytes[i] >> 4];
        hex += digits[bytes[i] & 15];
    }
    return hex;
}

std::string finalHex(EVP_MD_CTX* context) {
    unsigned char digest[EVP_MAX_MD_SIZE];
    unsigned length = 0;
    if (EVP_DigestFinal_ex(context, digest, &length) != 1) return {};
    return hexOf(digest, length);
}

}  // namespace

std::string checksumLine(const std::string& hexDigest, const std::string& name) {
    std::string escaped;
    bool escapes = false;
    for (char c : name) {
        if (c == '\\' || c == '\n' || c == '\r') {
            escapes = true;
            escaped += c == '\\' ? "\\\\" : c == '\n' ? "\\n" : "\\r";
        } else {
            escaped += c;
        }
    }
    return (escapes ? "\\" : "") + hexDigest + "  " + escaped + "\n";
}

std::string SaveHashes::open(const std::string& file, const std::string& outputFolder) {
    sha256Name_ = file;
    md5Name_ = file + ".md5";
    folderPrefix_ = outputFolder.empty() || outputFolder.back() == '/' ? outputFolder : outputFolder + "/";
    sha256_.reset(std::fopen(sha256Name_.c_str(), "w"));
    if (!sha256_) return sha256Name_ + ": " + std::strerror(errno);
    md5_.reset(std::fopen(md5Name_.c_str(), "w"));
    if (!md5_) return md5Name_ + ": " + std::strerror(errno);
    return {};
}

std::string SaveHashes::add(const std::string& hostPath) {
    const int fd = ::open(hostPath.c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC);
    if (fd < 0) return errno == ELOOP ? std::string() : hostPath + ": " + std::strerror(errno);
    struct stat st {};
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        ::close(fd);
        return {};
    }
    DigestContext sha256, md5;
    bool ok = sha256.context && md5.context && EVP_DigestInit_ex(sha256.context, EVP_sha256(), nullptr) == 1 &&
              EVP_DigestInit_ex(md5.context, EVP_md5(), nullptr) == 1;
    std::vector<unsigned char> buffer(1 << 20);
    int readError = 0;
    while (ok) {
        const ssize_t got = ::read(fd, buffer.data(), buffer.size());
        if (got < 0 && errno == EINTR) continue;
        if (got < 0) readError = errno;
        if (got <= 0) break;
        ok = EVP_DigestUpdate(sha256.context, buffer.data(), static_cast<std::size_t>(got)) == 1 &&
             EVP_DigestUpdate(md5.context, buffer.data(), static_cast<std::size_t>(got)) == 1;
    }
    ::close(fd);
    if (readError) return hostPath + ": " + std::strerror(readError);
    const std::string sha256Hex = ok ? finalHex(sha256.context) : std::string();
    const std::string md5Hex = ok ? finalHex(md5.context) : std::string();
    if (sha256Hex.empty() || md5Hex.empty()) return hostPath + ": the checksums could not be computed";
    const std::string name = hostPath.compare(0, folderPrefix_.size(), folderPrefix_) == 0
                                 ? hostPath.substr(folderPrefix_.size())
                                 : hostPath;
    const std::string shaLine = checksumLine(sha256Hex, name), md5Line = checksumLine(md5Hex, name);
    if (std::fputs(shaLine.c_str(), sha256_.get()) < 0) return sha256Name_ + ": " + std::strerror(errno);
    if (std::fputs(md5Line.c_str(), md5_.get()) < 0) return md5Name_ + ": " + std::strerror(errno);
    return {};
}

std::string SaveHashes::finish() {
    std::string error;
    for (auto* list : {&sha256_, &md5_}) {
        if (!*list) continue;
        const std::string& name = list == &sha256_ ? sha256Name_ : md5Name_;
        if (std::fclose(list->release()) != 0 && error.empty()) error = name + ": " + std::strerror(errno);
    }
    return error;
}

}  // namespace halvard::cli
