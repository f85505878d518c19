// Fuzzes the program-file reader: every file added to a batch is read by it
// before anything is loaded. Besides the sanitizers' checks, what it reports
// must stay within its documented limits and agree with itself, read whole
// or by ranges.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>

#include "FuzzCheck.h"
#include "engine/uPeFile.h"

namespace pe = engine::pe;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const pe::TPeInfo info = pe::ReadPeInfo(size == 0 ? nullptr : data, size);

    FUZZ_CHECK(info.imports.size() <= pe::kMaxImports);
    for (const std::string& name : info.imports) {
        FUZZ_CHECK(name.size() <= pe::kMaxNameLength);
        FUZZ_CHECK(name.find('\0') == std::string::npos);
        FUZZ_CHECK(name.size() < size);
    }
    if (!info.isPe) {
        FUZZ_CHECK(!info.problem.empty());
        FUZZ_CHECK(info.imports.empty());
        // The tables are only read from sound headers; the failure reasons
        // rely on a file that is not a program having no .NET header.
        FUZZ_CHECK(!info.exportsRegister && !info.exportsUnregister && !info.hasClrHeader);
    } else {
        // Headers a loader accepts need the DOS header, the signature, the
        // file header and at least the smaller optional header.
        FUZZ_CHECK(size >= 64 + 4 + 20);
        FUZZ_CHECK(data[0] == 'M' && data[1] == 'Z');
        pe::TMachine expected = pe::TMachine::Other;
        if (info.machineCode == 0x014C) expected = pe::TMachine::X86;
        if (info.machineCode == 0x8664) expected = pe::TMachine::X64;
        if (info.machineCode == 0xAA64) expected = pe::TMachine::Arm64;
        FUZZ_CHECK(info.machine == expected);
    }
    FUZZ_CHECK(!pe::MachineName(info.machine, info.machineCode).empty());

    // Read by ranges, the same data gives the same verdict, field by field,
    // and its headers alone the same kind of file.
    auto readAt = [data](std::uint64_t offset, unsigned char* out, std::size_t n) {
        std::memcpy(out, data + offset, n);
        return n;
    };
    pe::TRangedFile ranged(size, readAt);
    const pe::TPeInfo head = pe::ReadPeInfo(ranged, pe::TReadScope::Headers);
    const pe::TPeInfo tables = pe::ReadPeInfo(ranged);
    FUZZ_CHECK(tables.isPe == info.isPe && tables.machineCode == info.machineCode);
    FUZZ_CHECK(tables.isPe32Plus == info.isPe32Plus && tables.isDll == info.isDll);
    FUZZ_CHECK(tables.exportsRegister == info.exportsRegister && tables.exportsUnregister == info.exportsUnregister);
    FUZZ_CHECK(tables.hasClrHeader == info.hasClrHeader && tables.imports == info.imports);
    FUZZ_CHECK(tables.problem == info.problem);
    FUZZ_CHECK(head.isPe == info.isPe && head.machineCode == info.machineCode && head.isDll == info.isDll);
    FUZZ_CHECK(head.hasClrHeader == info.hasClrHeader && head.imports.empty());
    FUZZ_CHECK(ranged.BytesRead() <= pe::kMaxReadBytes);
    // Under a bound of two pages the reader stops within it and says why.
    pe::TRangedFile bounded(size, readAt, 2 * pe::kPageBytes);
    const pe::TPeInfo cut = pe::ReadPeInfo(bounded);
    FUZZ_CHECK(bounded.BytesRead() <= 2 * pe::kPageBytes);
    FUZZ_CHECK(bounded.Failure().empty() || cut.problem == bounded.Failure());
    return 0;
}
