// OkServer.dll: a complete, well-behaved in-process COM server with one
// class. The class implements IUnknown and IPersist; IPersist::GetClassID
// reports the class id, which lets a test check it really talks to this
// object. Registration writes the usual CLSID entries below
// HKEY_CLASSES_ROOT pointing at this DLL's own path.
#include <windows.h>
#include <objbase.h>

#include <new>

#include "ServerRegistry.h"
#include "TestServerIds.h"

// The server allocates from the process heap itself, so that it needs
// nothing of the C++ run-time's exception machinery (which would bring the
// threads library, whose thread-local slots leak at every load).
void *operator new(size_t size) { return HeapAlloc(GetProcessHeap(), 0, size ? size : 1); }
void *operator new(size_t size, const std::nothrow_t &) noexcept {
    return HeapAlloc(GetProcessHeap(), 0, size ? size : 1);
}
void operator delete(void *block) noexcept {
    if (block) HeapFree(GetProcessHeap(), 0, block);
}
void operator delete(void *block, size_t) noexcept {
    if (block) HeapFree(GetProcessHeap(), 0, block);
}

namespace {

HMODULE g_module = nullptr;
// Live objects plus outstanding references on the class factory.
LONG g_liveObjects = 0;
// IClassFactory::LockServer count.
LONG g_serverLocks = 0;

class TestObject final : public IPersist {
public:
    TestObject() { InterlockedIncrement(&g_liveObjects); }
    ~TestObject() { InterlockedDecrement(&g_liveObjects); }
    TestObject(const TestObject &) = delete;
    TestObject &operator=(const TestObject &) = delete;

    STDMETHODIMP QueryInterface(REFIID riid, void **object) override {
        if (!object) return E_POINTER;
        if (IsEqualIID(riid, IID_IUnknown) || IsEqualIID(riid, IID_IPersist)) {
            *object = static_cast<IPersist *>(this);
            AddRef();
            return S_OK;
        }
        *object = nullptr;
        return E_NOINTERFACE;
    }
    STDMETHODIMP_(ULONG) AddRef() override {
        return static_cast<ULONG>(InterlockedIncrement(&refs_));
    }
    STDMETHODIMP_(ULONG) Release() override {
        LONG left = InterlockedDecrement(&refs_);
        if (left == 0) delete this;
        return static_cast<ULONG>(left);
    }
    STDMETHODIMP GetClassID(CLSID *clsid) override {
        if (!clsid) return E_POINTER;
        *clsid = TestServers::kOkServerClsid;
        return S_OK;
    }

private:
    LONG refs_ = 1;
};

// One static factory per module; its references count towards
// DllCanUnloadNow so the DLL stays loaded while anyone holds it.
class ClassFactory final : public IClassFactory {
public:
    STDMETHODIMP QueryInterface(REFIID riid, void **object) override {
        if (!object) return E_POINTER;
        if (IsEqualIID(riid, IID_IUnknown) || IsEqualIID(riid, IID_IClassFactory)) {
            *object = static_cast<IClassFactory *>(this);
            AddRef();
            return S_OK;
        }
        *object = nullptr;
        return E_NOINTERFACE;
    }
    STDMETHODIMP_(ULONG) AddRef() override {
        return static_cast<ULONG>(InterlockedIncrement(&g_liveObjects));
    }
    STDMETHODIMP_(ULONG) Release() override {
        return static_cast<ULONG>(InterlockedDecrement(&g_liveObjects));
    }
    STDMETHODIMP CreateInstance(IUnknown *outer, REFIID riid, void **object) override {
        if (!object) return E_POINTER;
        *object = nullptr;
        if (outer) return CLASS_E_NOAGGREGATION;
        TestObject *instance = new (std::nothrow) TestObject();
        if (!instance) return E_OUTOFMEMORY;
        HRESULT hr = instance->QueryInterface(riid, object);
        instance->Release();  // drops the constructor's reference
        return hr;
    }
    STDMETHODIMP LockServer(BOOL lock) override {
        if (lock)
            InterlockedIncrement(&g_serverLocks);
        else
            InterlockedDecrement(&g_serverLocks);
        return S_OK;
    }
};

ClassFactory g_factory;

}  // namespace

extern "C" BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID) {
    if (reason == DLL_PROCESS_ATTACH) {
        g_module = instance;
        DisableThreadLibraryCalls(instance);
    }
    return TRUE;
}

STDAPI DllGetClassObject(REFCLSID clsid, REFIID riid, LPVOID *object) {
    if (!object) return E_POINTER;
    *object = nullptr;
    if (!IsEqualCLSID(clsid, TestServers::kOkServerClsid)) return CLASS_E_CLASSNOTAVAILABLE;
    return g_factory.QueryInterface(riid, object);
}

STDAPI DllCanUnloadNow() {
    return (g_liveObjects == 0 && g_serverLocks == 0) ? S_OK : S_FALSE;
}

STDAPI DllRegisterServer() {
    using namespace TestServers;
    char path[MAX_PATH];
    DWORD length = GetModuleFileNameA(g_module, path, MAX_PATH);
    if (length == 0) return HRESULT_FROM_WIN32(GetLastError());
    if (length >= MAX_PATH) return HRESULT_FROM_WIN32(ERROR_INSUFFICIENT_BUFFER);

    HRESULT hr = WriteStringValue(HKEY_CLASSES_ROOT, kOkServerClsidKey, nullptr,
                                  kOkServerDescription);
    if (SUCCEEDED(hr))
        hr = WriteStringValue(HKEY_CLASSES_ROOT, kOkServerInprocKey, nullptr, path);
    if (SUCCEEDED(hr))
        hr = WriteStringValue(HKEY_CLASSES_ROOT, kOkServerInprocKey,
                              kOkServerThreadingModelValue, kOkServerThreadingModel);
    // Do not leave a half-written registration behind.
    if (FAILED(hr)) DeleteKeyTree(HKEY_CLASSES_ROOT, kOkServerClsidKey);
    return hr;
}

STDAPI DllUnregisterServer() {
    return TestServers::DeleteKeyTree(HKEY_CLASSES_ROOT, TestServers::kOkServerClsidKey);
}
