#pragma once
// Move-only owners of Windows handles: each closes its handle exactly once.
#include <windows.h>

#include <utility>

namespace qv {

template <class H, class Traits>
class UniqueHandle {
public:
    UniqueHandle() = default;
    explicit UniqueHandle(H handle) : handle_(handle) {}
    ~UniqueHandle() { reset(); }
    UniqueHandle(const UniqueHandle&) = delete;
    UniqueHandle& operator=(const UniqueHandle&) = delete;
    UniqueHandle(UniqueHandle&& other) noexcept : handle_(other.release()) {}
    UniqueHandle& operator=(UniqueHandle&& other) noexcept {
        if (this != &other) reset(other.release());
        return *this;
    }
    H get() const { return handle_; }
    explicit operator bool() const { return Traits::Valid(handle_); }
    H release() { return std::exchange(handle_, Traits::Invalid()); }
    void reset(H handle = Traits::Invalid()) {
        if (Traits::Valid(handle_)) Traits::Close(handle_);
        handle_ = handle;
    }

private:
    H handle_ = Traits::Invalid();
};

struct KernelHandleTraits {
    static HANDLE Invalid() { return nullptr; }
    static bool Valid(HANDLE h) { return h != nullptr && h != INVALID_HANDLE_VALUE; }
    static void Close(HANDLE h) { ::CloseHandle(h); }
};
using Handle = UniqueHandle<HANDLE, KernelHandleTraits>;

template <class H>
struct GdiTraits {
    static H Invalid() { return nullptr; }
    static bool Valid(H h) { return h != nullptr; }
    static void Close(H h) { ::DeleteObject(h); }
};
template <class H>
using GdiObject = UniqueHandle<H, GdiTraits<H>>;

struct ModuleTraits {
    static HMODULE Invalid() { return nullptr; }
    static bool Valid(HMODULE h) { return h != nullptr; }
    static void Close(HMODULE h) { ::FreeLibrary(h); }
};
using Module = UniqueHandle<HMODULE, ModuleTraits>;

}  // namespace qv
