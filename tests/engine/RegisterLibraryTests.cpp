// Registering libraries for real: the test servers are loaded, their entry
// points called, and the registry and COM confirm the outcome.
#include <gtest/gtest.h>
#include <objbase.h>

#include "EngineTestUtil.h"
#include "TestServerIds.h"
#include "support/TestEnv.h"

using namespace testenv;
namespace ts = TestServers;

namespace {

HRESULT CreateOkObject() {
    IUnknown* object = nullptr;
    HRESULT hr = CoCreateInstance(ts::kOkServerClsid, nullptr, CLSCTX_INPROC_SERVER, IID_IUnknown,
                                  reinterpret_cast<void**>(&object));
    if (object) object->Release();
    CoFreeUnusedLibrariesEx(0, 0);
    return hr;
}

TEST(RegisterLibrary, RegistersAndUnregistersARealServer) {
    const std::string path = TestDataDir() + ts::kOkServerFile;
    DeleteTree(HKEY_CLASSES_ROOT, ts::kOkServerClsidKey);
    EXPECT_EQ(CreateOkObject(), REGDB_E_CLASSNOTREG);

    EXPECT_TRUE(Succeeded(RunFile(path, true), "Call to 'DllRegisterServer' in 'OkServer.dll' completed with success."));
    EXPECT_FALSE(ModuleLoaded("OkServer.dll")) << "a library is freed after its call";
    EXPECT_EQ(lstrcmpiA(ReadString(HKEY_CLASSES_ROOT, ts::kOkServerInprocKey, "").c_str(), path.c_str()), 0);
    EXPECT_EQ(CreateOkObject(), S_OK);

    EXPECT_TRUE(
        Succeeded(RunFile(path, false), "Call to 'DllUnregisterServer' in 'OkServer.dll' completed with success."));
    EXPECT_FALSE(KeyExists(HKEY_CLASSES_ROOT, ts::kOkServerClsidKey));
    EXPECT_EQ(CreateOkObject(), REGDB_E_CLASSNOTREG);
}

TEST(RegisterLibrary, AnyExtensionButExeAndTypeLibrariesIsALibrary) {
    std::string dir = MakeTempDir("extensions");
    for (const char* name : {"Server.ocx", "Server.ax", "Server", "Server.Dll", "Server.exe.bak"}) {
        ASSERT_TRUE(CopyTo(TestDataDir() + ts::kOkServerFile, dir + name));
        EXPECT_TRUE(Succeeded(RunFile(dir + name, true),
                              std::string("Call to 'DllRegisterServer' in '") + name + "' completed with success."));
        EXPECT_TRUE(Succeeded(RunFile(dir + name, false), std::string("Call to 'DllUnregisterServer' in '") + name +
                                                          "' completed with success."));
    }
}

TEST(RegisterLibrary, FailuresNameTheFileAndTheEntryPoint) {
    const std::string dir = TestDataDir();
    EXPECT_TRUE(Failed(RunFile(dir + ts::kSFalseServerFile, true),
                       "Call to 'DllRegisterServer' failed in 'SFalseServer.dll'."));
    EXPECT_TRUE(Failed(RunFile(dir + ts::kSFalseServerFile, false),
                       "Call to 'DllUnregisterServer' failed in 'SFalseServer.dll'."));
    EXPECT_FALSE(ModuleLoaded("SFalseServer.dll"));

    // Registers, yet has nothing to unregister with.
    EXPECT_TRUE(Succeeded(RunFile(dir + ts::kNoUnregServerFile, true),
                          "Call to 'DllRegisterServer' in 'NoUnregServer.dll' completed with success."));
    EXPECT_EQ(ReadDword(HKEY_LOCAL_MACHINE, ts::kNoUnregKey, ts::kNoUnregValueName), ts::kNoUnregValue);
    EXPECT_TRUE(Failed(RunFile(dir + ts::kNoUnregServerFile, false),
                       "DllUnregisterServer procedure not found in 'NoUnregServer.dll'."));
    EXPECT_FALSE(ModuleLoaded("NoUnregServer.dll"));
    DeleteTree(HKEY_LOCAL_MACHINE, ts::kNoUnregKey);

    // Present but not loadable: the file name only.
    EXPECT_TRUE(Failed(RunFile(dir + ts::kNotALibraryFile, true), "Failed to load library 'NotALibrary.dll'."));
}

TEST(RegisterLibrary, MissingFilesAndAbsentDrivesGiveTheFullPath) {
    const std::string missing = TestDataDir() + "Missing.dll";
    EXPECT_TRUE(Failed(RunFile(missing, true), "Library '" + missing + "' not found."));
    EXPECT_TRUE(Failed(RunFile(missing, false), "Library '" + missing + "' not found."));
    DWORD drives = GetLogicalDrives();
    for (char c = 'Y'; c >= 'D'; --c) {
        if (drives & (1u << (c - 'A'))) continue;
        std::string absent = std::string(1, c) + ":\\Server.dll";
        EXPECT_TRUE(Failed(RunFile(absent, true), "Library '" + absent + "' not found."));
        break;
    }
    // A folder is not a library.
    EXPECT_TRUE(Failed(RunFile(TestDataDir() + ts::kDepFolder, true), "Library '" + TestDataDir() + "dep' not found."));
    EXPECT_TRUE(Failed(RunFile("", true), "Library '' not found."));
}

TEST(RegisterLibrary, DependenciesComeFromTheLibrarysOwnFolder) {
    const std::string server = TestDataDir() + ts::kDepServerFile;
    DeleteTree(HKEY_LOCAL_MACHINE, ts::kDepKey);
    {
        // Anywhere else as the current folder.
        ScopedCurrentDir cd(BinDir());
        EXPECT_TRUE(
            Succeeded(RunFile(server, true), "Call to 'DllRegisterServer' in 'DepServer.dll' completed with success."));
        EXPECT_EQ(ReadDword(HKEY_LOCAL_MACHINE, ts::kDepKey, ts::kDepValueName), ts::kDepHelperValue);
        EXPECT_TRUE(Succeeded(RunFile(server, false),
                              "Call to 'DllUnregisterServer' in 'DepServer.dll' completed with success."));
        EXPECT_FALSE(KeyExists(HKEY_LOCAL_MACHINE, ts::kDepKey));
    }
    {
        // A look-alike planted in the current folder is not picked up.
        ScopedCurrentDir cd(TestDataDir() + ts::kPlantedFolder);
        EXPECT_TRUE(Succeeded(RunFile(server, true), "Call to 'DllRegisterServer' in 'DepServer.dll' completed with success."));
        EXPECT_EQ(ReadDword(HKEY_LOCAL_MACHINE, ts::kDepKey, ts::kDepValueName), ts::kDepHelperValue);
        EXPECT_FALSE(ModuleLoaded("DepHelper.dll"));
        DeleteTree(HKEY_LOCAL_MACHINE, ts::kDepKey);
    }
    {
        // A relative path with a folder part is taken from the current folder.
        ScopedCurrentDir cd(TestDataDir());
        EXPECT_TRUE(Succeeded(RunFile(ts::kDepServerFile, true),
                              "Call to 'DllRegisterServer' in 'DepServer.dll' completed with success."));
        DeleteTree(HKEY_LOCAL_MACHINE, ts::kDepKey);
    }
    {
        // A bare name is the file of that name in the current folder, the one
        // that was found there, even when the program's own folder (which
        // the loader would search first) holds another file of that name.
        std::string dir = MakeTempDir("bare-name");
        ASSERT_TRUE(CopyTo(TestDataDir() + ts::kOkServerFile, dir + "Shadowed.dll"));
        ASSERT_TRUE(CopyTo(TestDataDir() + ts::kSFalseServerFile, BinDir() + "Shadowed.dll"));
        {
            ScopedCurrentDir cd(dir);
            EXPECT_TRUE(Succeeded(RunFile("Shadowed.dll", true),
                                  "Call to 'DllRegisterServer' in 'Shadowed.dll' completed with success."));
            EXPECT_EQ(lstrcmpiA(ReadString(HKEY_CLASSES_ROOT, ts::kOkServerInprocKey, "").c_str(),
                                (dir + "Shadowed.dll").c_str()),
                      0);
            RunFile("Shadowed.dll", false);
        }
        DeleteFileA((BinDir() + "Shadowed.dll").c_str());
    }
    {
        // Without its dependency the library cannot load.
        std::string dir = MakeTempDir("lonely");
        ASSERT_TRUE(CopyTo(server, dir + "DepServer.dll"));
        ScopedCurrentDir cd(BinDir());
        EXPECT_TRUE(Failed(RunFile(dir + "DepServer.dll", true), "Failed to load library 'DepServer.dll'."));
    }
}

TEST(RegisterLibrary, AFaultInTheEntryPointIsThatFilesFailure) {
    const std::string path = TestDataDir() + ts::kFaultServerFile;
    Outcome o = RunFile(path, true);
    EXPECT_TRUE(Failed(o, "Call to 'DllRegisterServer' failed in 'FaultServer.dll'."));
    EXPECT_NE(o.details.find("DllRegisterServer raised exception 0xC0000005 (access violation) at address 0x"),
              std::string::npos)
        << o.details;
    EXPECT_NE(o.details.find("(FaultServer.dll+0x"), std::string::npos) << o.details;
    EXPECT_FALSE(ModuleLoaded("FaultServer.dll")) << "the helper loads it, never the program";

    o = RunFile(path, false);
    EXPECT_TRUE(Failed(o, "Call to 'DllUnregisterServer' failed in 'FaultServer.dll'."));
    EXPECT_NE(o.details.find("0xC0000094 (integer division by zero)"), std::string::npos) << o.details;

    // Again and again: each fault takes only its own helper.
    for (int i = 0; i < 10; ++i) {
        o = RunFile(path, i % 2 == 0);
        ASSERT_EQ(o.kind, qekError);
    }
    EXPECT_TRUE(Succeeded(RunFile(TestDataDir() + ts::kOkServerFile, true),
                          "Call to 'DllRegisterServer' in 'OkServer.dll' completed with success."));
    RunFile(TestDataDir() + ts::kOkServerFile, false);
}

TEST(RegisterLibrary, FaultsAServerHandlesItselfAreLeftToIt) {
    EXPECT_TRUE(Succeeded(RunFile(TestDataDir() + ts::kProbeServerFile, true),
                          "Call to 'DllRegisterServer' in 'ProbeServer.dll' completed with success."));
}

}  // namespace
