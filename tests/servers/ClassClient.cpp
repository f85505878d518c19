// ClassClient.exe: creates an instance of the class whose CLSID is its
// argument ("{...}") in process and exits with the HRESULT of the creation.
// Built for both bitnesses: the 64-bit copy proves that a 64-bit server's
// registration is usable by 64-bit clients.
#include <windows.h>
#include <objbase.h>

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR commandLine, int) {
    wchar_t text[64] = {};
    MultiByteToWideChar(CP_ACP, 0, commandLine, -1, text, 63);
    CLSID clsid;
    HRESULT hr = CLSIDFromString(text, &clsid);
    if (FAILED(hr)) return static_cast<int>(hr);
    CoInitialize(nullptr);
    IUnknown* object = nullptr;
    hr = CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER, IID_IUnknown, reinterpret_cast<void**>(&object));
    if (object) object->Release();
    CoUninitialize();
    return static_cast<int>(hr);
}
