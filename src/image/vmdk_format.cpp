#include "image/vmdk_format.h"

#include <algorithm>
#include <cctype>
#include <charconv>

namespace halvard::vmdk {

SparseHeader parseSparseHeader(Bytes data) {
    SparseHeader h;
    h.magicOk = fits(data, 0, 512) && le32(data, 0) == kMagic;
    h.version = le32(data, 4);
    h.flags = le32(data, 8);
    h.capacity = le64(data, 12);
    h.grainSize = le64(data, 20);
    h.descriptorOffset = le64(data, 28);
    h.descriptorSize = le64(data, 36);
    h.numGTEsPerGT = le32(data, 44);
    h.rgdOffset = le64(data, 48);
    h.gdOffset = le64(data, 56);
    h.overHead = le64(data, 64);
    h.uncleanShutdown = u8(data, 72);
    h.compressAlgorithm = le16(data, 77);
    return h;
}

namespace {

std::string_view trim(std::string_view s) {
    while (!s.empty() && std::isspace(static_cast<unsigned char>(s.front()))) s.remove_prefix(1);
    while (!s.empty() && std::isspace(static_cast<unsigned char>(s.back()))) s.remove_suffix(1);
    return s;
}

std::string_view unquote(std::string_view s) {
    s = trim(s);
    if (s.size() >= 2 && s.front() == '"' && s.back() == '"') s = s.substr(1, s.size() - 2);
    return s;
}

std::string upper(std::string_view s) {
    std::string out(s);
    std::transform(out.begin(), out.end(), out.begin(), [](unsigned char c) { return std::toupper(c); });
    return out;
}

bool parseNumber(std::string_view s, std::uint64_t& value) {
    if (s.empty()) return false;
    const auto [end, error] = std::from_chars(s.data(), s.data() + s.size(), value);
    return error == std::errc() && end == s.data() + s.size();
}

// ACCESS SIZE TYPE "FILE NAME" [OFFSET]
bool parseExtent(std::string_view line, Extent& extent) {
    auto token = [&line]() {
        line = trim(line);
        const std::size_t end = std::min(line.find_first_of(" \t"), line.size());
        std::string_view t = line.substr(0, end);
        line.remove_prefix(end);
        return t;
    };
    extent.access = std::string(token());
    const std::string access = upper(extent.access);
    if (access != "RW" && access != "RDONLY" && access != "NOACCESS") return false;
    if (!parseNumber(token(), extent.sectors)) return false;
    extent.type = upper(token());
    if (extent.type.empty()) return false;
    line = trim(line);
    if (!line.empty() && line.front() == '"') {
        const std::size_t close = line.find('"', 1);
        if (close == std::string_view::npos) return false;
        extent.fileName = std::string(line.substr(1, close - 1));
        line.remove_prefix(close + 1);
        const std::string_view offset = trim(line);
        if (!offset.empty() && !parseNumber(offset, extent.offset)) return false;
    }
    return true;
}

}  // namespace

bool Descriptor::hasParent() const {
    std::string id = upper(parentCID);
    return !id.empty() && id != "FFFFFFFF";
}

Descriptor parseDescriptor(std::string_view text) {
    Descriptor d;
    while (!text.empty()) {
        const std::size_t end = std::min(text.find('\n'), text.size());
        const std::string_view line = trim(text.substr(0, end));
        text.remove_prefix(std::min(end + 1, text.size()));
        if (line.empty() || line.front() == '#') continue;
        Extent extent;
        if (parseExtent(line, extent)) {
            d.extents.push_back(std::move(extent));
            continue;
        }
        const std::size_t equals = line.find('=');
        if (equals == std::string_view::npos) continue;
        const std::string_view key = trim(line.substr(0, equals));
        const std::string value(unquote(line.substr(equals + 1)));
        if (key == "version") d.version = value;
        else if (key == "CID") d.CID = value;
        else if (key == "parentCID") d.parentCID = value;
        else if (key == "createType") {
            d.createType = value;
            d.hasCreateType = true;
        } else if (key == "parentFileNameHint") d.parentFileNameHint = value;
        else if (key == "ddb.virtualHWVersion") d.virtualHWVersion = value;
        else if (key == "ddb.geometry.cylinders") d.cylinders = value;
        else if (key == "ddb.geometry.heads") d.heads = value;
        else if (key == "ddb.geometry.sectors") d.sectors = value;
        else if (key == "ddb.adapterType") d.adapterType = value;
        else if (key == "ddb.toolsVersion") d.toolsVersion = value;
    }
    return d;
}

bool looksLikeDescriptor(Bytes firstBytes) { return hasSignature(firstBytes, 0, "# Disk DescriptorFile"); }

GrainMarker parseGrainMarker(Bytes data) {
    GrainMarker m;
    m.lba = le64(data, 0);
    m.size = le32(data, 8);
    return m;
}

}  // namespace halvard::vmdk
