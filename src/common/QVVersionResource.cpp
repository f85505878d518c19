#include "common/QVVersionResource.h"

#include <cstdio>
#include <cstring>
#include <utility>

namespace qv {

namespace {

// Length, value length and type come before the key.
constexpr std::size_t kBlockHeaderBytes = 6;

std::uint16_t Word(const unsigned char* p) { return static_cast<std::uint16_t>(p[0] | (p[1] << 8)); }

std::uint32_t Dword(const unsigned char* p) {
    return static_cast<std::uint32_t>(Word(p)) | (static_cast<std::uint32_t>(Word(p + 2)) << 16);
}

// Offsets are within the data, so far from overflowing.
std::size_t Align4(std::size_t offset) { return (offset + 3) & ~static_cast<std::size_t>(3); }

char UpperAscii(char c) { return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c; }

// One block, as offsets into the data. Every offset lies in [begin, end]
// and end within the data.
struct TBlock {
    std::size_t begin = 0;
    std::size_t end = 0;
    std::size_t keyBegin = 0;
    std::size_t keyUnits = 0;  // without the NUL
    std::uint16_t valueLength = 0;
    std::uint16_t type = 0;
    std::size_t valueBegin = 0;
    std::size_t valueEnd = 0;     // the declared value, cut at the block's end
    bool valueWhole = false;      // the declared value fits in the block
    std::size_t childrenBegin = 0;
};

class TReader {
public:
    TReader(const unsigned char* data, std::size_t size) : data_(data), size_(size) {}

    // The root block, when it is sound and named "VS_VERSION_INFO".
    bool Root(TBlock* root) const { return Block(0, size_, root) && KeyIs(*root, "VS_VERSION_INFO"); }

    // The first child of `parent` named `key`. The search ends at a child
    // that does not fit in its parent: what follows it cannot be located.
    bool Child(const TBlock& parent, const std::string& key, TBlock* found) const {
        std::size_t offset = parent.childrenBegin;
        while (offset < parent.end) {
            TBlock child;
            if (!Block(offset, parent.end, &child)) return false;
            if (KeyIs(child, key)) {
                *found = child;
                return true;
            }
            // A block holds at least its header and a NUL key: 8 bytes.
            offset = Align4(child.end);
        }
        return false;
    }

    bool KeyIs(const TBlock& block, const std::string& key) const {
        if (block.keyUnits != key.size()) return false;
        for (std::size_t i = 0; i < key.size(); ++i) {
            std::uint16_t unit = Word(data_ + block.keyBegin + 2 * i);
            if (unit > 0x7F || UpperAscii(static_cast<char>(unit)) != UpperAscii(key[i])) return false;
        }
        return true;
    }

    const unsigned char* At(std::size_t offset) const { return data_ + offset; }

private:
    // The block at `offset`, which must end by `limit` (at most the data's
    // size). False when its header, its length or its key does not fit.
    bool Block(std::size_t offset, std::size_t limit, TBlock* block) const {
        if (offset > limit || limit - offset < kBlockHeaderBytes) return false;
        const std::size_t length = Word(data_ + offset);
        if (length < kBlockHeaderBytes || length > limit - offset) return false;
        block->begin = offset;
        block->end = offset + length;
        block->valueLength = Word(data_ + offset + 2);
        block->type = Word(data_ + offset + 4);
        std::size_t pos = offset + kBlockHeaderBytes;
        block->keyBegin = pos;
        for (;;) {
            if (block->end - pos < 2) return false;  // no NUL inside the block
            if (Word(data_ + pos) == 0) break;
            pos += 2;
        }
        block->keyUnits = (pos - block->keyBegin) / 2;
        pos += 2;
        const std::size_t valueBytes =
            block->type == 1 ? 2 * static_cast<std::size_t>(block->valueLength) : block->valueLength;
        const std::size_t valueBegin = Align4(pos);
        if (valueBegin >= block->end) {
            block->valueBegin = block->valueEnd = block->childrenBegin = block->end;
            block->valueWhole = valueBytes == 0;
            return true;
        }
        block->valueBegin = valueBegin;
        block->valueWhole = valueBytes <= block->end - valueBegin;
        block->valueEnd = block->valueWhole ? valueBegin + valueBytes : block->end;
        const std::size_t children = Align4(valueBegin + valueBytes);
        block->childrenBegin = children < block->end ? children : block->end;
        return true;
    }

    const unsigned char* data_;
    std::size_t size_;
};

}  // namespace

bool ReadFixedFileVersion(const unsigned char* data, std::size_t size, TFileVersion* version) {
    TReader reader(data, size);
    TBlock root;
    if (!reader.Root(&root)) return false;
    if (root.valueLength < kFixedInfoBytes || !root.valueWhole) return false;
    const unsigned char* fixed = reader.At(root.valueBegin);
    if (Dword(fixed) != kFixedInfoSignature) return false;
    const std::uint32_t high = Dword(fixed + 8);
    const std::uint32_t low = Dword(fixed + 12);
    version->major = static_cast<std::uint16_t>(high >> 16);
    version->minor = static_cast<std::uint16_t>(high & 0xFFFF);
    version->release = static_cast<std::uint16_t>(low >> 16);
    version->build = static_cast<std::uint16_t>(low & 0xFFFF);
    return true;
}

bool ReadFirstTranslation(const unsigned char* data, std::size_t size, TTranslation* translation) {
    TReader reader(data, size);
    TBlock root, varFileInfo, list;
    if (!reader.Root(&root) || !reader.Child(root, "VarFileInfo", &varFileInfo) ||
        !reader.Child(varFileInfo, "Translation", &list)) {
        return false;
    }
    if (list.valueEnd - list.valueBegin < 4) return false;
    translation->language = Word(reader.At(list.valueBegin));
    translation->codePage = Word(reader.At(list.valueBegin + 2));
    return true;
}

std::string TranslationKey(const TTranslation& translation) {
    char key[16];
    std::snprintf(key, sizeof key, "%04X%04X", static_cast<unsigned>(translation.language),
                  static_cast<unsigned>(translation.codePage));
    return key;
}

bool ReadVersionString(const unsigned char* data, std::size_t size, const std::string& table,
                       const std::string& name, std::u16string* value) {
    TReader reader(data, size);
    TBlock root, stringFileInfo, stringTable, string;
    if (!reader.Root(&root) || !reader.Child(root, "StringFileInfo", &stringFileInfo) ||
        !reader.Child(stringFileInfo, table, &stringTable) || !reader.Child(stringTable, name, &string)) {
        return false;
    }
    std::u16string text;
    if (string.valueLength != 0) {
        // Up to the NUL, which the value length may or may not count, and
        // never past the block.
        for (std::size_t pos = string.valueBegin; string.end - pos >= 2; pos += 2) {
            std::uint16_t unit = Word(reader.At(pos));
            if (unit == 0) break;
            text.push_back(static_cast<char16_t>(unit));
        }
    }
    *value = std::move(text);
    return true;
}

}  // namespace qv
