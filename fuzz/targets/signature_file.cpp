// Signature definition files, read as the user's file and as the default file.
#include "raw/signature_file.h"
#include "sparse_image.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string path = halvard::fuzzing::memoryFilePath(data, size);
    halvard::readSignatureFile(path, halvard::SignatureFileKind::User, 0, {});
    halvard::readSignatureFile(path, halvard::SignatureFileKind::Default, 200, {});
    return 0;
}
