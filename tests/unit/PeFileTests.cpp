// The program-file reader over the test servers as built, over a small image
// assembled here and damaged one field at a time, and over truncated and
// corrupted copies of a real library; the same read by ranges, with what it
// reads counted; and, under Windows, a server's file read before loading.
// Runs under Windows (Wine) with the other unit tests, and natively on the
// build host, where the test servers' folder is given in CORVANTIS_TESTDATA.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <fstream>
#include <functional>
#include <iterator>
#include <string>
#include <vector>

#include "engine/uPeFile.h"

#ifdef _WIN32
#include <windows.h>

#include "engine/uProgramFile.h"
#include "support/TestEnv.h"
#else
#include <sys/mman.h>

#include <cstdlib>
#endif

namespace {

using engine::pe::kPageBytes;
using engine::pe::ReadPeFile;
using engine::pe::ReadPeInfo;
using engine::pe::TMachine;
using engine::pe::TPeInfo;
using engine::pe::TRangedFile;
using engine::pe::TReadScope;
using Bytes = std::vector<unsigned char>;

#ifdef _WIN32
// The test servers are built for the machine of the tests.
constexpr TMachine kOwnMachine = sizeof(void*) == 8 ? TMachine::X64 : TMachine::X86;
// Where the 64-bit servers lie, seen from this build; "" when there are none.
const char* const kX64Folder = sizeof(void*) == 8 ? "" : "x64\\";
#else
// The host reads the 32-bit build's test servers.
constexpr TMachine kOwnMachine = TMachine::X86;
const char* const kX64Folder = "x64/";
#endif

// A file of the test servers' folder; `relative` uses backslashes.
std::string Data(std::string relative) {
#ifdef _WIN32
    return testenv::TestDataDir() + relative;
#else
    std::replace(relative.begin(), relative.end(), '\\', '/');
    const char* folder = std::getenv("CORVANTIS_TESTDATA");
    return std::string(folder ? folder : ".") + "/" + relative;
#endif
}

// The file names the tests read.
const char kOkServer[] = "OkServer.dll";
const char kNoUnregServer[] = "NoUnregServer.dll";
const char kSFalseServer[] = "SFalseServer.dll";
const char kDepServer[] = "dep\\DepServer.dll";
const char kDepHelper[] = "dep\\DepHelper.dll";
const char kExeServer[] = "ExeServer.exe";
const char kNotALibrary[] = "NotALibrary.dll";
const char kTestLib[] = "TestLib.tlb";

// Reads a copy of `b` whose last byte lies just before a page the process
// may not touch, so a read past the end of the data faults the test.
TPeInfo Read(const Bytes& b, std::size_t n) {
    static const std::size_t kCapacity = 1024 * 1024;
    static unsigned char* guard = [] {
#ifdef _WIN32
        auto* base = static_cast<unsigned char*>(
            VirtualAlloc(nullptr, kCapacity + 4096, MEM_RESERVE | MEM_COMMIT, PAGE_READWRITE));
        DWORD old = 0;
        VirtualProtect(base + kCapacity, 4096, PAGE_NOACCESS, &old);
#else
        auto* base = static_cast<unsigned char*>(
            mmap(nullptr, kCapacity + 4096, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0));
        mprotect(base + kCapacity, 4096, PROT_NONE);
#endif
        return base + kCapacity;
    }();
    if (n > kCapacity) n = kCapacity;
    if (n) std::memcpy(guard - n, b.data(), n);
    return ReadPeInfo(guard - n, n);
}
TPeInfo Read(const Bytes& b) { return Read(b, b.size()); }

Bytes Load(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

bool Imports(const TPeInfo& info, const std::string& name) {
    for (std::string entry : info.imports) {
        std::transform(entry.begin(), entry.end(), entry.begin(), [](unsigned char c) { return std::toupper(c); });
        std::string wanted = name;
        std::transform(wanted.begin(), wanted.end(), wanted.begin(), [](unsigned char c) { return std::toupper(c); });
        if (entry == wanted) return true;
    }
    return false;
}

// ---------------------------------------------------------------------------
// Real files.
// ---------------------------------------------------------------------------

TEST(PeFile, ServerWithBothEntryPoints) {
    const TPeInfo info = ReadPeFile(Data(kOkServer));
    EXPECT_TRUE(info.isPe);
    EXPECT_EQ(info.problem, "");
    EXPECT_EQ(info.machine, kOwnMachine);
    EXPECT_EQ(info.isPe32Plus, kOwnMachine == TMachine::X64);
    EXPECT_TRUE(info.isDll);
    EXPECT_TRUE(info.exportsRegister);
    EXPECT_TRUE(info.exportsUnregister);
    EXPECT_FALSE(info.hasClrHeader);
    EXPECT_TRUE(Imports(info, "KERNEL32.dll"));
    EXPECT_TRUE(Imports(info, "ADVAPI32.dll"));
}

TEST(PeFile, ServerWithoutUnregister) {
    const TPeInfo info = ReadPeFile(Data(kNoUnregServer));
    EXPECT_TRUE(info.isPe && info.isDll);
    EXPECT_TRUE(info.exportsRegister);
    EXPECT_FALSE(info.exportsUnregister);
}

TEST(PeFile, LibraryImportsItsHelper) {
    const TPeInfo server = ReadPeFile(Data(kDepServer));
    EXPECT_TRUE(Imports(server, "DepHelper.dll"));
    const TPeInfo helper = ReadPeFile(Data(kDepHelper));
    EXPECT_TRUE(helper.isPe && helper.isDll);
    EXPECT_FALSE(helper.exportsRegister || helper.exportsUnregister);
}

TEST(PeFile, ExecutableServer) {
    const TPeInfo info = ReadPeFile(Data(kExeServer));
    EXPECT_TRUE(info.isPe);
    EXPECT_FALSE(info.isDll);
    EXPECT_EQ(info.machine, kOwnMachine);
    EXPECT_FALSE(info.exportsRegister);
}

TEST(PeFile, FilesThatAreNotPrograms) {
    const TPeInfo text = ReadPeFile(Data(kNotALibrary));
    EXPECT_FALSE(text.isPe);
    EXPECT_NE(text.problem.find("\"MZ\""), std::string::npos) << text.problem;
    EXPECT_FALSE(ReadPeFile(Data(kTestLib)).isPe);
    const TPeInfo missing = ReadPeFile(Data("NoSuchFile.dll"));
    EXPECT_FALSE(missing.isPe);
    EXPECT_EQ(missing.problem, "The file could not be opened.");
}

TEST(PeFile, FileReadUpToTheLimit) {
    const TPeInfo info = ReadPeFile(Data(kOkServer), 100);
    EXPECT_FALSE(info.isPe);
}

// The 64-bit servers and the patched copies that stand for other kinds of
// file: what each is read as.
TEST(PeFile, OtherMachinesAndKinds) {
    struct TCase {
        std::string file;
        TMachine machine;
        bool pe32Plus, dll, clr, registers;
    };
    const std::string x64 = kX64Folder;
    const TCase cases[] = {
        {x64 + kOkServer, TMachine::X64, true, true, false, true},
        {x64 + kExeServer, TMachine::X64, true, false, false, false},
        {x64 + "Arm64Server.dll", TMachine::Arm64, true, true, false, true},
        {"DotNetLike.dll", kOwnMachine, kOwnMachine == TMachine::X64, true, true, false},
        {"TypeLibOnly.dll", kOwnMachine, kOwnMachine == TMachine::X64, true, false, false},
    };
    for (const TCase& c : cases) {
        SCOPED_TRACE(c.file);
        const TPeInfo info = ReadPeFile(Data(c.file));
        ASSERT_TRUE(info.isPe) << info.problem;
        EXPECT_EQ(info.problem, "");
        EXPECT_EQ(info.machine, c.machine);
        EXPECT_EQ(info.isPe32Plus, c.pe32Plus);
        EXPECT_EQ(info.isDll, c.dll);
        EXPECT_EQ(info.hasClrHeader, c.clr);
        EXPECT_EQ(info.exportsRegister, c.registers);
    }
}

// ---------------------------------------------------------------------------
// An image assembled here: one section at address 0x1000, file offset 0x200,
// 0x200 bytes, holding an export table that names both entry points and an
// import table naming KERNEL32.dll.
// ---------------------------------------------------------------------------

struct TSynth {
    Bytes b = Bytes(0x400, 0);
    std::size_t opt = 0x58;  // optional header
    std::size_t dirs = 0;    // data directories
    std::size_t sect = 0;    // section table

    explicit TSynth(bool plus, std::uint16_t machine = 0x14C) {
        const std::size_t fixed = plus ? 112 : 96;
        dirs = opt + fixed;
        sect = dirs + 16 * 8;
        Put16(0, 0x5A4D);
        Put32(0x3C, 0x40);
        std::memcpy(&b[0x40], "PE\0\0", 4);
        Put16(0x44, machine);
        Put16(0x46, 1);                               // sections
        Put16(0x54, static_cast<std::uint16_t>(fixed + 16 * 8));
        Put16(0x56, 0x2102);                          // DLL, 32-bit, executable
        Put16(opt, plus ? 0x20B : 0x10B);
        Put32(opt + 60, 0x200);                       // size of headers
        Put32(dirs - 4, 16);                          // directory count
        Dir(0, 0x1000, 40);
        Dir(1, 0x1100, 40);
        std::memcpy(&b[sect], ".data", 5);
        Put32(sect + 8, 0x1000);                      // virtual size
        Put32(sect + 12, 0x1000);                     // virtual address
        Put32(sect + 16, 0x200);                      // raw size
        Put32(sect + 20, 0x200);                      // raw offset
        Put32(At(0x1000) + 24, 2);                    // export names
        Put32(At(0x1000) + 32, 0x1040);
        Put32(At(0x1040), 0x1060);
        Put32(At(0x1044), 0x1080);
        Str(0x1060, "DllRegisterServer");
        Str(0x1080, "DllUnregisterServer");
        Put32(At(0x1100) + 12, 0x1180);               // import name
        Put32(At(0x1100) + 16, 0x1190);
        Str(0x1180, "KERNEL32.dll");
    }
    static std::size_t At(std::uint32_t rva) { return rva - 0x1000 + 0x200; }
    void Put16(std::size_t at, std::uint16_t v) { b[at] = v & 0xFF; b[at + 1] = v >> 8; }
    void Put32(std::size_t at, std::uint32_t v) {
        for (int i = 0; i < 4; ++i) b[at + i] = (v >> (8 * i)) & 0xFF;
    }
    void Dir(int index, std::uint32_t rva, std::uint32_t size) {
        Put32(dirs + index * 8, rva);
        Put32(dirs + index * 8 + 4, size);
    }
    void Str(std::uint32_t rva, const char* text) { std::memcpy(&b[At(rva)], text, std::strlen(text) + 1); }
};

struct TCase {
    const char* name;
    bool plus;
    std::function<void(TSynth&)> damage;
    bool isPe;
    const char* problem;  // a part of the expected problem; "" for none
    std::function<void(const TPeInfo&)> check;
};

TEST(PeFile, AssembledImagesWholeAndDamaged) {
    const auto none = [](const TPeInfo&) {};
    const TCase cases[] = {
        {"whole", false, [](TSynth&) {}, true, "", [](const TPeInfo& i) {
             EXPECT_EQ(i.machine, TMachine::X86);
             EXPECT_TRUE(i.isDll && i.exportsRegister && i.exportsUnregister);
             EXPECT_FALSE(i.hasClrHeader || i.isPe32Plus);
             EXPECT_EQ(i.imports, std::vector<std::string>{"KERNEL32.dll"});
         }},
        {"64-bit layout", true, [](TSynth& s) { s.Put16(0x44, 0x8664); }, true, "", [](const TPeInfo& i) {
             EXPECT_EQ(i.machine, TMachine::X64);
             EXPECT_TRUE(i.isPe32Plus && i.exportsRegister && i.exportsUnregister);
             EXPECT_EQ(i.imports, std::vector<std::string>{"KERNEL32.dll"});
         }},
        {"ARM64", true, [](TSynth& s) { s.Put16(0x44, 0xAA64); }, true, "", [](const TPeInfo& i) {
             EXPECT_EQ(i.machine, TMachine::Arm64);
             EXPECT_EQ(engine::pe::MachineName(i.machine, i.machineCode), "ARM64");
         }},
        {"other machine", false, [](TSynth& s) { s.Put16(0x44, 0x1C4); }, true, "", [](const TPeInfo& i) {
             EXPECT_EQ(engine::pe::MachineName(i.machine, i.machineCode), "unknown (0x1C4)");
         }},
        {"executable", false, [](TSynth& s) { s.Put16(0x56, 0x0102); }, true, "",
         [](const TPeInfo& i) { EXPECT_FALSE(i.isDll); }},
        {"CLR header", false, [](TSynth& s) { s.Dir(14, 0x11C0, 72); }, true, "",
         [](const TPeInfo& i) { EXPECT_TRUE(i.hasClrHeader); }},
        {"CLR header outside", false, [](TSynth& s) { s.Dir(14, 0x7000, 72); }, true, ".NET runtime header",
         [](const TPeInfo& i) { EXPECT_TRUE(i.hasClrHeader); }},
        {"empty", false, [](TSynth& s) { s.b.clear(); }, false, "empty", none},
        {"text", false, [](TSynth& s) { s.b.assign({'h', 'e', 'l', 'l', 'o'}); }, false, "\"MZ\"", none},
        {"short DOS header", false, [](TSynth& s) { s.b.resize(0x20); }, false, "DOS header", none},
        {"PE pointer beyond the end", false, [](TSynth& s) { s.Put32(0x3C, 0x10000); }, false, "outside", none},
        {"PE pointer negative", false, [](TSynth& s) { s.Put32(0x3C, 0xFFFFFFF0); }, false, "outside", none},
        {"PE pointer at the very end", false, [](TSynth& s) { s.Put32(0x3C, 0x3FE); }, false, "outside", none},
        {"no PE signature", false, [](TSynth& s) { s.b[0x41] = 'X'; }, false, "signature", none},
        {"truncated file header", false, [](TSynth& s) { s.b.resize(0x4E); }, false, "PE file header", none},
        {"no optional header", false, [](TSynth& s) { s.Put16(0x54, 0); }, false, "no optional header", none},
        {"optional header too short", false, [](TSynth& s) { s.Put16(0x54, 50); }, false, "too short", none},
        {"optional header size lying", false, [](TSynth& s) { s.Put16(0x54, 0xFFFF); }, false, "optional header", none},
        {"optional header kind", false, [](TSynth& s) { s.Put16(s.opt, 0x107); }, false, "0x107", none},
        {"too many sections", false, [](TSynth& s) { s.Put16(0x46, 97); }, false, "97 sections", none},
        {"section table past the end", false, [](TSynth& s) { s.Put16(0x46, 30); }, false, "section table", none},
        {"few directories", false, [](TSynth& s) { s.Put32(s.dirs - 4, 1); }, true, "", [](const TPeInfo& i) {
             EXPECT_TRUE(i.exportsRegister);
             EXPECT_TRUE(i.imports.empty());
         }},
        {"directory count lying", false, [](TSynth& s) {
             // Room for the export directory only; the section table follows
             // it, so the next "directory" would be the section's name.
             s.Put32(s.dirs - 4, 0xFFFFFFFF);
             s.Put16(0x54, 96 + 8);
             std::memmove(&s.b[s.dirs + 8], &s.b[s.sect], 40);
         }, true, "", [](const TPeInfo& i) {
             EXPECT_TRUE(i.exportsRegister);
             EXPECT_TRUE(i.imports.empty());
         }},
        {"RVA in no section", false, [](TSynth& s) { s.Dir(0, 0x5000, 40); }, true, "export table lies",
         [](const TPeInfo& i) { EXPECT_FALSE(i.exportsRegister); }},
        {"RVA in the zero-filled tail", false, [](TSynth& s) { s.Dir(0, 0x1800, 40); }, true, "export table lies", none},
        {"section data past the end", false, [](TSynth& s) { s.Put32(s.sect + 20, 0x10000); }, true, "export table lies", none},
        {"file ends inside the section", false, [](TSynth& s) { s.b.resize(0x230); }, true, "list of names", none},
        {"export count past the end", false, [](TSynth& s) { s.Put32(TSynth::At(0x1000) + 24, 1000); }, true,
         "list of names", none},
        {"export count huge", false, [](TSynth& s) { s.Put32(TSynth::At(0x1000) + 24, 0xFFFFFFFF); }, true,
         "more than", none},
        {"export name RVA past the end", false, [](TSynth& s) { s.Put32(TSynth::At(0x1044), 0x9000); }, true,
         "export name", [](const TPeInfo& i) { EXPECT_TRUE(i.exportsRegister); }},
        {"export name without NUL", false, [](TSynth& s) {
             s.Put32(TSynth::At(0x1040), 0x11FC);
             std::memcpy(&s.b[TSynth::At(0x11FC)], "ABCD", 4);
         }, true, "export name", none},
        {"import descriptors without terminator", false, [](TSynth& s) {
             for (std::uint32_t rva = 0x1100; rva + 20 <= 0x1200; rva += 20) s.Put32(TSynth::At(rva) + 12, 0x1060);
         }, true, "no end", [](const TPeInfo& i) { EXPECT_EQ(i.imports.size(), 12u); }},
        {"import name past the end", false, [](TSynth& s) { s.Put32(TSynth::At(0x1100) + 12, 0x8000); }, true,
         "imported library", none},
        {"import name without NUL", false, [](TSynth& s) {
             s.Put32(TSynth::At(0x1100) + 12, 0x11FE);
             std::memcpy(&s.b[TSynth::At(0x11FE)], "AB", 2);
         }, true, "imported library", none},
        {"import name too long", false, [](TSynth& s) {
             s.Put32(s.sect + 16, 0x200 + 0x400);  // raw size: the section now runs past the file's end
             s.b.resize(0x800, 'A');
             s.b.back() = 0;
             s.Put32(TSynth::At(0x1100) + 12, 0x1200);
         }, true, "imported library", none},
    };
    for (const TCase& c : cases) {
        SCOPED_TRACE(c.name);
        TSynth s(c.plus);
        c.damage(s);
        const TPeInfo info = Read(s.b);
        EXPECT_EQ(info.isPe, c.isPe);
        if (*c.problem) EXPECT_NE(info.problem.find(c.problem), std::string::npos) << info.problem;
        else EXPECT_EQ(info.problem, "");
        c.check(info);
    }
}

TEST(PeFile, NullDataIsEmpty) { EXPECT_EQ(ReadPeInfo(nullptr, 0).problem, "The file is empty."); }

// ---------------------------------------------------------------------------
// A real library cut at every length and with bytes changed: the reader must
// return, and whatever it reports from a cut copy must match the whole file.
// ---------------------------------------------------------------------------

TEST(PeFile, TruncatedAtEveryLength) {
    const Bytes whole = Load(Data(kSFalseServer));
    ASSERT_GT(whole.size(), 1024u);
    const TPeInfo full = Read(whole);
    ASSERT_TRUE(full.exportsRegister && !full.imports.empty());
    for (std::size_t n = 0; n <= whole.size(); ++n) {
        const TPeInfo info = Read(whole, n);
        if (!info.isPe) continue;
        ASSERT_EQ(info.machine, full.machine) << n;
        ASSERT_EQ(info.isDll, full.isDll) << n;
        ASSERT_TRUE(!info.exportsRegister || full.exportsRegister) << n;
        ASSERT_LE(info.imports.size(), full.imports.size()) << n;
        ASSERT_TRUE(std::equal(info.imports.begin(), info.imports.end(), full.imports.begin())) << n;
    }
}

TEST(PeFile, CorruptedBytes) {
    const Bytes whole = Load(Data(kOkServer));
    ASSERT_GT(whole.size(), 1024u);
    std::vector<std::size_t> positions;
    for (std::size_t i = 0; i < 0x400; ++i) positions.push_back(i);  // every header byte
    std::uint32_t seed = 12345;
    for (int i = 0; i < 400; ++i) {
        seed = seed * 1103515245u + 12345u;
        positions.push_back(seed % whole.size());
    }
    Bytes copy = whole;
    int readAsPe = 0;
    for (std::size_t at : positions) {
        for (int value : {0x00, 0xFF, whole[at] ^ 0x80}) {
            copy[at] = static_cast<unsigned char>(value);
            const TPeInfo info = Read(copy);
            readAsPe += info.isPe;
            EXPECT_LE(info.imports.size(), engine::pe::kMaxImports);
            for (const std::string& name : info.imports) ASSERT_LE(name.size(), engine::pe::kMaxNameLength);
        }
        copy[at] = whole[at];
    }
    EXPECT_GT(readAsPe, 0);
}

// ---------------------------------------------------------------------------
// Reading by ranges: the same verdicts as from the whole data, from the pages
// the headers and tables lie in only.
// ---------------------------------------------------------------------------

// A ranged file over `b`; every read at or past `failFrom` fails.
TRangedFile Ranged(const Bytes& b, std::uint64_t maxRead = engine::pe::kMaxReadBytes,
                   std::uint64_t failFrom = ~std::uint64_t{0}) {
    return TRangedFile(b.size(), [&b, failFrom](std::uint64_t offset, unsigned char* out, std::size_t n) {
        if (offset + n > failFrom) return std::size_t{0};
        std::memcpy(out, b.data() + offset, n);
        return n;
    }, maxRead);
}

void ExpectSame(const TPeInfo& a, const TPeInfo& b) {
    EXPECT_EQ(a.isPe, b.isPe);
    EXPECT_EQ(a.machineCode, b.machineCode);
    EXPECT_EQ(a.isPe32Plus, b.isPe32Plus);
    EXPECT_EQ(a.isDll, b.isDll);
    EXPECT_EQ(a.exportsRegister, b.exportsRegister);
    EXPECT_EQ(a.exportsUnregister, b.exportsUnregister);
    EXPECT_EQ(a.hasClrHeader, b.hasClrHeader);
    EXPECT_EQ(a.imports, b.imports);
    EXPECT_EQ(a.problem, b.problem);
}

TEST(PeFileRanged, RealFilesReadAsFromTheWholeData) {
    const std::string x64 = kX64Folder;
    for (const std::string& file : {std::string(kOkServer), std::string(kDepServer), std::string(kExeServer),
                                   std::string("DotNetLike.dll"), x64 + kOkServer, x64 + "Arm64Server.dll",
                                   std::string(kNotALibrary), std::string(kTestLib)}) {
        SCOPED_TRACE(file);
        const Bytes whole = Load(Data(file));
        ASSERT_FALSE(whole.empty());
        TRangedFile ranged = Ranged(whole);
        const TPeInfo head = ReadPeInfo(ranged, TReadScope::Headers);
        const std::uint64_t headBytes = ranged.BytesRead();
        const TPeInfo tables = ReadPeInfo(ranged);
        ExpectSame(tables, Read(whole));
        ExpectSame(ReadPeFile(Data(file)), tables);
        // The headers alone: the same verdict and kind, no table.
        EXPECT_EQ(head.isPe, tables.isPe);
        EXPECT_EQ(head.machineCode, tables.machineCode);
        EXPECT_EQ(head.hasClrHeader, tables.hasClrHeader);
        EXPECT_TRUE(head.imports.empty() && !head.exportsRegister);
        EXPECT_EQ(headBytes, std::min<std::uint64_t>(whole.size(), kPageBytes));
        // The tables cost a few pages, not the file.
        if (tables.isPe) EXPECT_LE(ranged.BytesRead(), 8 * kPageBytes);
        EXPECT_EQ(ranged.Failure(), "");
    }
}

// Headers further on than the first page: the first page and theirs only.
TEST(PeFileRanged, HeadersBeyondTheFirstPage) {
    TSynth s(false);
    Bytes b(0x3000, 0);
    std::copy(s.b.begin(), s.b.end(), b.begin());
    std::copy(s.b.begin() + 0x40, s.b.begin() + 0x200, b.begin() + 0x2000);
    b[0x3C] = 0x00;
    b[0x3D] = 0x20;  // the PE header at 0x2000
    TRangedFile ranged = Ranged(b);
    EXPECT_TRUE(ReadPeInfo(ranged, TReadScope::Headers).isPe);
    EXPECT_EQ(ranged.BytesRead(), 2 * kPageBytes);
    const TPeInfo whole = ReadPeInfo(ranged);
    ExpectSame(whole, Read(b));
    EXPECT_TRUE(whole.exportsRegister && whole.exportsUnregister);
    EXPECT_EQ(ranged.BytesRead(), 2 * kPageBytes) << "the tables lie in pages read already";
}

// Export names spread over more pages than are kept: every one is read, and
// reading again reads the pages that were let go.
TEST(PeFileRanged, MorePagesThanKept) {
    const std::uint32_t count = engine::pe::kCachedPages + 40;
    TSynth s(false);
    s.b.resize(0x200 + 0x1000 * (count + 2), 0);
    s.Put32(s.sect + 8, 0x1000 * (count + 2));   // virtual size
    s.Put32(s.sect + 16, 0x1000 * (count + 2));  // raw size
    s.Put32(TSynth::At(0x1000) + 24, count);
    s.Put32(TSynth::At(0x1000) + 32, 0x1200);
    s.Dir(1, 0, 0);
    for (std::uint32_t i = 0; i < count; ++i) {
        const std::uint32_t rva = 0x2000 + 0x1000 * i;
        s.Put32(TSynth::At(0x1200) + 4 * i, rva);
        const std::string name = i == count - 1 ? "DllRegisterServer" : "Name" + std::to_string(i);
        s.Str(rva, name.c_str());
    }
    TRangedFile ranged = Ranged(s.b);
    const TPeInfo first = ReadPeInfo(ranged);
    ExpectSame(first, Read(s.b));
    EXPECT_TRUE(first.exportsRegister);
    const std::uint64_t once = ranged.BytesRead();
    EXPECT_GE(once, count * kPageBytes);
    EXPECT_LT(once, s.b.size());
    ExpectSame(ReadPeInfo(ranged), first);
    EXPECT_GT(ranged.BytesRead(), once);
}

// A read that fails, or the bound on what is read, is the reason given.
TEST(PeFileRanged, FailedReadsAndTheBound) {
    const Bytes whole = Load(Data(kOkServer));
    ASSERT_GT(whole.size(), 4 * kPageBytes);
    const char kUnread[] = "The file could not be read.";
    struct TCase {
        const char* name;
        std::uint64_t maxRead, failFrom;
        bool headIsPe, wholeIsPe;
        const char* problem;
    } cases[] = {
        {"first page unreadable", engine::pe::kMaxReadBytes, 0, false, false, kUnread},
        {"tables unreadable", engine::pe::kMaxReadBytes, kPageBytes, true, true, kUnread},
        {"bound of one page", kPageBytes, ~std::uint64_t{0}, true, true, "would take more than 4096 bytes"},
        {"bound below one page", 100, ~std::uint64_t{0}, false, false, "would take more than 100 bytes"},
    };
    for (const TCase& c : cases) {
        SCOPED_TRACE(c.name);
        TRangedFile ranged = Ranged(whole, c.maxRead, c.failFrom);
        EXPECT_EQ(ReadPeInfo(ranged, TReadScope::Headers).isPe, c.headIsPe);
        const TPeInfo info = ReadPeInfo(ranged);
        EXPECT_EQ(info.isPe, c.wholeIsPe);
        EXPECT_NE(info.problem.find(c.problem), std::string::npos) << info.problem;
        EXPECT_EQ(info.problem, ranged.Failure());
        EXPECT_LE(ranged.BytesRead(), c.maxRead);
    }
}

#ifdef _WIN32
// A server's file as read before it is loaded: the head from its first page,
// the tables from their own pages when asked for.
TEST(ProgramFile, HeadThenTables) {
    struct TCase {
        std::string file;
        bool opened, isPe;
    } cases[] = {
        {kOkServer, true, true},
        {kDepServer, true, true},
        {std::string(kX64Folder) + "Arm64Server.dll", true, true},
        {kNotALibrary, true, false},
        {"NoSuchFile.dll", false, false},
    };
    for (const TCase& c : cases) {
        SCOPED_TRACE(c.file);
        engine::TProgramFile program(Data(c.file));
        EXPECT_EQ(program.Opened(), c.opened);
        EXPECT_EQ(program.Head().isPe, c.isPe);
        if (!c.opened) continue;
        const Bytes whole = Load(Data(c.file));
        EXPECT_EQ(program.BytesRead(), std::min<std::uint64_t>(whole.size(), kPageBytes));
        EXPECT_TRUE(program.Head().imports.empty());
        ExpectSame(program.Whole(), Read(whole));
        if (c.isPe) EXPECT_LT(program.BytesRead(), whole.size() / 4);
        EXPECT_EQ(&program.Head(), &program.Whole());
    }
}
#endif

}  // namespace
