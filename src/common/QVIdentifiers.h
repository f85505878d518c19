#pragma once
// Identifier rules shared by the runner's argument check and the WiX
// fragment, header-only so that the argument parser builds on any host.
#include <string>

namespace qv {

// A Windows Installer identifier (what a WiX folder id must be): a letter or
// '_' first, then letters, digits, '_' and '.', at most 72 characters.
inline bool IsInstallerIdentifier(const std::string& id) {
    if (id.empty() || id.size() > 72) return false;
    auto letter = [](char c) { return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || c == '_'; };
    if (!letter(id[0])) return false;
    for (char c : id) {
        if (!letter(c) && !(c >= '0' && c <= '9') && c != '.') return false;
    }
    return true;
}

}  // namespace qv
