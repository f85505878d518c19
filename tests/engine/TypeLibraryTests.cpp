// Type libraries go through the type library API, identified from the file.
#include <gtest/gtest.h>
#include <windows.h>
#include <oleauto.h>

#include "EngineTestUtil.h"
#include "TestServerIds.h"
#include "engine/uReasons.h"
#include "engine/uRegCore.h"
#include "support/TestEnv.h"

using namespace testenv;
namespace ts = TestServers;

namespace {

// The test type library declares the 32-bit platform, so the 32-bit helper
// registers it; a 64-bit build of the tests has none.
#define SKIP_WITHOUT_32_BIT_HELPER() \
    if (sizeof(void*) == 8) GTEST_SKIP() << "a 32-bit type library needs the 32-bit helper"

const std::string kVersionKey = std::string("TypeLib\\") + ts::kTestLibLibidString + "\\" + ts::kTestLibVersionString;

TEST(RegisterTypeLibrary, RegistersAndUnregisters) {
    SKIP_WITHOUT_32_BIT_HELPER();
    DeleteTree(HKEY_CLASSES_ROOT, std::string("TypeLib\\") + ts::kTestLibLibidString);
    const std::string path = TestDataDir() + ts::kTestLibFile;
    EXPECT_TRUE(Succeeded(RunFile(path, true), "Call to 'RegisterTypeLib' in 'TestLib.tlb' completed with success."));
    EXPECT_TRUE(KeyExists(HKEY_CLASSES_ROOT, kVersionKey));
    EXPECT_TRUE(Succeeded(RunFile(path, false), "Call to 'UnRegisterTypeLib' in 'TestLib.tlb' completed with success."));
    EXPECT_FALSE(KeyExists(HKEY_CLASSES_ROOT, kVersionKey));
}

TEST(RegisterTypeLibrary, OlbAndAnyCaseAreTypeLibraries) {
    SKIP_WITHOUT_32_BIT_HELPER();
    std::string dir = MakeTempDir("olb");
    for (const char* name : {"TESTLIB.OLB", "TestLib.Tlb", "testlib.olb"}) {
        ASSERT_TRUE(CopyTo(TestDataDir() + ts::kTestLibFile, dir + name));
        EXPECT_TRUE(Succeeded(RunFile(dir + name, true),
                              std::string("Call to 'RegisterTypeLib' in '") + name + "' completed with success."));
        EXPECT_TRUE(Succeeded(RunFile(dir + name, false),
                              std::string("Call to 'UnRegisterTypeLib' in '") + name + "' completed with success."));
    }
}

TEST(RegisterTypeLibrary, FailuresNameTheFileAndTheCall) {
    SKIP_WITHOUT_32_BIT_HELPER();
    const std::string missing = TestDataDir() + "Missing.tlb";
    EXPECT_TRUE(Failed(RunFile(missing, true), "Library '" + missing + "' not found."));

    std::string dir = MakeTempDir("bad-tlb");
    WriteFile(dir + "bad.tlb", "this is not a type library");
    Outcome o = RunFile(dir + "bad.tlb", true);
    EXPECT_TRUE(Failed(o, "Call to 'RegisterTypeLib' failed in 'bad.tlb'."));
    EXPECT_EQ(o.details.rfind("LoadTypeLibEx returned 0x", 0), 0u) << o.details;
    EXPECT_TRUE(Failed(RunFile(dir + "bad.tlb", false), "Call to 'UnRegisterTypeLib' failed in 'bad.tlb'."));
}

}  // namespace

// A type library goes to the helper of the platform it declares: a 64-bit
// one (SYS_WIN64 in its header, or inside a 64-bit program file) to the
// 64-bit helper where this computer runs x64 code, anything else to the
// 32-bit one.
TEST(RegisterTypeLibrary, TheDeclaredPlatformChoosesTheHelper) {
    const std::string dir = MakeTempDir("tlb-platform");
    std::string tlb = ReadFileBytes(TestDataDir() + ts::kTestLibFile);
    ASSERT_GT(tlb.size(), 0x20u);
    std::string win64 = tlb;
    win64[0x14] = static_cast<char>((win64[0x14] & 0xF0) | SYS_WIN64);
    WriteFile(dir + "Win32.tlb", tlb);
    WriteFile(dir + "Win64.tlb", win64);
    WriteFile(dir + "Text.tlb", "not a type library");
    const bool x64 = engine::CanRunMachine(engine::pe::TMachine::X64);
    struct {
        std::string path;
        engine::pe::TMachine machine;
    } cases[] = {
        {dir + "Win32.tlb", engine::pe::TMachine::X86},
        {dir + "Win64.tlb", x64 ? engine::pe::TMachine::X64 : engine::pe::TMachine::X86},
        {dir + "Text.tlb", engine::pe::TMachine::X86},
        {TestDataDir() + "TypeLibOnly.dll", engine::ProcessMachine()},
        {dir + "Missing.tlb", engine::pe::TMachine::X86},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(engine::TypeLibraryMachine(c.path), c.machine) << c.path;
    }
}
