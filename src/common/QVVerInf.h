#pragma once
// A file's version resource: its version text, legal notice and language.
// Each query reads the resource, takes what it needs and releases it.
#include <string>

#include "common/QVMsgFrm.h"

// "major.minor.release Build build" of the fixed file version, or "0.0.0"
// when the file has no readable version resource.
std::string GetFileVersionText(const std::string& path);
// The "LegalCopyright" string of the first translation: empty when the
// resource lacks it, the built-in notice when the file has no resource.
std::string GetFileLegalNotice(const std::string& path);
// Portuguese when the first translation is Portuguese (Portugal or Brazil),
// English otherwise.
QVLanguage GetFileLanguage(const std::string& path);
