#include "common/QVApp.h"

std::unique_ptr<TQVApplication> AppInfo;

TQVApplication::TQVApplication()
    : WebAddresses(std::make_unique<TQVWebAddresses>()), Logger(std::make_unique<TQVAppLogger>()) {}

void TQVApplication::SetExeName(const std::string& path) {
    ExeName = path;
    if (!path.empty()) Logger->LogFileName = qv::ChangeFileExt(path, ".log");
}

namespace qv {

std::string ChangeFileExt(const std::string& path, const std::string& extension) {
    size_t cut = path.find_last_of(".\\/:");
    if (cut != std::string::npos && path[cut] == '.') return path.substr(0, cut) + extension;
    return path + extension;
}

std::string ExtractFilePath(const std::string& path) {
    size_t cut = path.find_last_of("\\/:");
    return cut == std::string::npos ? std::string() : path.substr(0, cut + 1);
}

}  // namespace qv
