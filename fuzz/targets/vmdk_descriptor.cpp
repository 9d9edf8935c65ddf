// VMDK descriptor text: key-value lines, extent lines (access, size, type, quoted name, offset) and comments.
#include <string>

#include "image/vmdk_format.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string text(reinterpret_cast<const char*>(data), size);
    const halvard::vmdk::Descriptor descriptor = halvard::vmdk::parseDescriptor(text);
    std::uint64_t sectors = 0;
    for (const auto& extent : descriptor.extents) sectors += extent.sectors + extent.offset + extent.fileName.size();
    (void)sectors;
    return 0;
}
