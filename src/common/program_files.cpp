#include "common/program_files.h"

#include <filesystem>
#include <system_error>

namespace halvard {

std::string programDataFileFrom(const std::string& programFolder, const std::string& name) {
    const std::filesystem::path folder(programFolder);
    std::error_code ec;
    const std::filesystem::path beside = folder / name;
    if (std::filesystem::exists(beside, ec)) return beside.string();
    const std::filesystem::path installed = folder.parent_path() / "share" / "halvard" / name;
    if (std::filesystem::exists(installed, ec)) return installed.string();
    return beside.string();
}

std::string programDataFile(const std::string& name) {
    std::error_code ec;
    const std::filesystem::path program = std::filesystem::read_symlink("/proc/self/exe", ec);
    if (ec) return name;
    return programDataFileFrom(program.parent_path().string(), name);
}

}  // namespace halvard
