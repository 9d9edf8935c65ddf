// VHD parent locators: the dynamic header's eight locator entries and the UTF-16 paths they point at anywhere in
// the file, turned into the places a parent is looked for. The input is the image file (sparse records); its
// dynamic header is read at 512, where every dynamic disk has it.
#include "image/image_file.h"
#include "image/vhd_parent.h"
#include "sparse_image.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const halvard::fuzzing::SparseImage image(data, size, 64ULL << 20);
    halvard::ImageFile file;
    if (!file.open(halvard::fuzzing::memoryFilePath(image))) return 0;
    const halvard::vhd::DynamicHeader header =
        halvard::vhd::parseDynamicHeader(file.readVector(halvard::vhd::kFooterSize, halvard::vhd::kDynamicHeaderSize));
    halvard::vhd::parentCandidates(file, header, "/nonexistent-halvard-folder/child.vhd");
    return 0;
}
