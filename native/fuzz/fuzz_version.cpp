// Fuzzes the version-resource reader: the resource comes from whatever file
// the program is asked about. Besides the sanitizers' checks, the results
// must not depend on bytes after the data given, keys must match whatever
// the case of their letters, and a string must hold no NUL.
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "FuzzCheck.h"
#include "common/QVVersionResource.h"

namespace {

const char* const kNames[] = {"LegalCopyright", "CompanyName", "FileVersion", "ProductName"};

// Everything the reader finds, as one comparable text.
std::string Findings(const unsigned char* data, std::size_t size) {
    std::string text;
    qv::TFileVersion version;
    if (qv::ReadFixedFileVersion(data, size, &version)) {
        FUZZ_CHECK(size >= qv::kFixedInfoBytes);
        text += std::to_string(version.major) + "." + std::to_string(version.minor) + "." +
                std::to_string(version.release) + "." + std::to_string(version.build);
    }
    qv::TTranslation translation;
    if (!qv::ReadFirstTranslation(data, size, &translation)) return text + "|-";
    const std::string table = qv::TranslationKey(translation);
    FUZZ_CHECK(table.size() == 8);
    text += "|" + table;
    std::string lowerTable = table;
    for (char& c : lowerTable) {
        if (c >= 'A' && c <= 'F') c = static_cast<char>(c - 'A' + 'a');
    }
    for (const char* name : kNames) {
        std::u16string value = u"unset";
        const bool found = qv::ReadVersionString(data, size, table, name, &value);
        std::u16string again;
        FUZZ_CHECK(qv::ReadVersionString(data, size, lowerTable, name, &again) == found);
        if (!found) {
            FUZZ_CHECK(value == u"unset");
            text += "|-";
            continue;
        }
        FUZZ_CHECK(again == value);
        FUZZ_CHECK(value.find(u'\0') == std::u16string::npos);
        FUZZ_CHECK(value.size() * 2 < size);
        text += "|" + std::to_string(value.size()) + ":";
        for (char16_t unit : value) text += std::to_string(static_cast<unsigned>(unit)) + ",";
    }
    return text;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string found = Findings(size == 0 ? nullptr : data, size);
    // GetFileVersionInfo's buffer has room after the resource; nothing in it
    // may change what is found.
    std::vector<unsigned char> longer(data, data + size);
    longer.resize(size + 64, 0xA5);
    FUZZ_CHECK(Findings(longer.data(), size) == found);
    // Once the root fits in the data, every read stays inside it: more data
    // changes nothing.
    if (found != "|-") FUZZ_CHECK(Findings(longer.data(), longer.size()) == found);
    return 0;
}
