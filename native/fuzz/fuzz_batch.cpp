// Fuzzes the batch file's text: any bytes may be opened as a batch file.
// Besides the sanitizers' checks, the lines must carry every byte but the
// breaks, parsing must agree with splitting, and formatting then parsing
// must give the paths back; the header probe on the first bytes must agree
// with parsing the whole decoded text. Decoding always gives UTF-8, and
// encoding then decoding gives the text back.
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "FuzzCheck.h"
#include "mainwin/uBatchText.h"
#include "support/Latin1CodePage.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string bytes(reinterpret_cast<const char*>(data), size);

    const std::vector<std::string> lines = SplitBatchLines(bytes);
    std::string joined;
    for (const std::string& line : lines) {
        FUZZ_CHECK(line.find_first_of(std::string("\r\n\0", 3)) == std::string::npos);
        joined += line;
    }
    FUZZ_CHECK(joined == fuzz::WithoutLineBreaks(bytes));
    // Every line but the last is followed by at least one byte of break.
    FUZZ_CHECK(joined.size() + (lines.empty() ? 0 : lines.size() - 1) <= size);

    const std::vector<std::string> untouched = {"untouched"};
    std::vector<std::string> paths = untouched;
    if (ParseBatchText(bytes, &paths)) {
        FUZZ_CHECK(!lines.empty());
        FUZZ_CHECK(lines[0] == kBatchHeader || lines[0] == kOldBatchHeader);
        FUZZ_CHECK(paths == std::vector<std::string>(lines.begin() + 1, lines.end()));
        FUZZ_CHECK(ParseBatchText(bytes, nullptr));
    } else {
        FUZZ_CHECK(paths == untouched);
        FUZZ_CHECK(lines.empty() || (lines[0] != kBatchHeader && lines[0] != kOldBatchHeader));
        FUZZ_CHECK(!ParseBatchText(bytes, nullptr));
    }

    // The first bytes alone give the same verdict as the whole text, once
    // decoded; decoding gives valid UTF-8 that decodes to itself.
    const TLatin1CodePage legacy;
    const std::string decoded = DecodeBatchText(bytes, legacy);
    FUZZ_CHECK(IsValidUtf8(decoded.data(), decoded.size()));
    FUZZ_CHECK(decoded.find('\0') == std::string::npos);
    FUZZ_CHECK(StartsWithBatchHeader(bytes.substr(0, kBatchHeaderProbe)) == ParseBatchText(decoded, nullptr));
    if (decoded.compare(0, kUtf8BomSize, kUtf8Bom) != 0) FUZZ_CHECK(DecodeBatchText(decoded, legacy) == decoded);
    // Any decoded lines survive encoding and decoding, whichever encoding
    // is chosen.
    const std::vector<std::string> decodedLines = SplitBatchLines(decoded);
    const std::string encoded = EncodeBatchText(decodedLines, legacy);
    std::vector<std::string> reread;
    FUZZ_CHECK(ParseBatchText(DecodeBatchText(encoded, legacy), &reread));
    FUZZ_CHECK(reread == decodedLines);

    // Lines hold no break and no NUL, so they survive a save and a load.
    const std::string text = FormatBatchText(lines);
    const std::string headerLine = std::string(kBatchHeader) + "\r\n";
    FUZZ_CHECK(text.compare(0, headerLine.size(), headerLine) == 0);
    FUZZ_CHECK(text.size() == headerLine.size() + joined.size() + 2 * lines.size());
    std::vector<std::string> back;
    FUZZ_CHECK(ParseBatchText(text, &back));
    FUZZ_CHECK(back == lines);

    // The whole input as one path: the key only changes letters a to z, and
    // the backup name only adds its prefix before the file name.
    const std::string key = BatchKey(bytes);
    FUZZ_CHECK(key.size() == size);
    for (std::size_t i = 0; i < size; ++i) {
        const char c = bytes[i];
        FUZZ_CHECK(key[i] == ((c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c));
    }
    FUZZ_CHECK(BatchKey(key) == key);
    const std::string backup = BackupFileName(bytes);
    const std::size_t cut = bytes.find_last_of("\\/:");
    const std::size_t nameAt = cut == std::string::npos ? 0 : cut + 1;
    FUZZ_CHECK(backup == bytes.substr(0, nameAt) + "Backup of " + bytes.substr(nameAt));
    FUZZ_CHECK(RecoveryFileName(bytes).size() == size + 12);
    return 0;
}
