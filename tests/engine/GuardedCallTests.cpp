// The guard around foreign entry points: faults become results, the
// process goes on, and nothing else is disturbed.
#include <gtest/gtest.h>

#include <stdexcept>
#include <string>
#include <thread>

#include "engine/uGuardedCall.h"
#include "engine/uHelper.h"
#include "support/TestEnv.h"

using engine::CallGuarded;

namespace {

volatile int* volatile g_null = nullptr;
volatile int g_zero = 0;

HRESULT WINAPI ReturnsSFalse() { return S_FALSE; }
HRESULT WINAPI WritesThroughNull() {
    *g_null = 1;
    return S_OK;
}
HRESULT WINAPI DividesByZero() { return 10 / g_zero; }
// Recurses until the stack runs out (the depth test only hides that from
// the compiler).
__attribute__((noinline)) int Recurse(int depth) {
    volatile char frame[512];
    frame[0] = static_cast<char>(depth);
    if (depth == -1) return frame[0];
    return Recurse(depth + 1) + frame[0];
}
HRESULT WINAPI OverflowsTheStack() { return Recurse(0); }

// A server that guards a fault of its own and then succeeds.
HRESULT WINAPI HandlesItsOwnFault() { return CallGuarded(WritesThroughNull).faulted ? S_OK : E_FAIL; }

TEST(CallGuarded, PassesTheResultThrough) {
    auto r = CallGuarded(ReturnsSFalse);
    EXPECT_FALSE(r.faulted);
    EXPECT_EQ(r.result, S_FALSE);
}

TEST(CallGuarded, TurnsFaultsIntoResults) {
    auto r = CallGuarded(WritesThroughNull);
    EXPECT_TRUE(r.faulted);
    EXPECT_EQ(r.exceptionCode, static_cast<DWORD>(EXCEPTION_ACCESS_VIOLATION));
    // The address lies inside the faulting function.
    EXPECT_GE(r.exceptionAddress, reinterpret_cast<std::uintptr_t>(&WritesThroughNull));
    EXPECT_LT(r.exceptionAddress, reinterpret_cast<std::uintptr_t>(&WritesThroughNull) + 64);

    r = CallGuarded(DividesByZero);
    EXPECT_TRUE(r.faulted);
    EXPECT_EQ(r.exceptionCode, static_cast<DWORD>(EXCEPTION_INT_DIVIDE_BY_ZERO));
}

HRESULT WINAPI ThrowsNoncontinuable() {
    // As an MSVC-built server's C++ throw leaves it, then ours.
    RaiseException(0xE06D7363, EXCEPTION_NONCONTINUABLE, 0, nullptr);
    return S_OK;
}
HRESULT WINAPI RaisesNoncontinuable() {
    RaiseException(0xE0000042, EXCEPTION_NONCONTINUABLE, 0, nullptr);
    return S_OK;
}

// A non-continuable exception is left, never resumed (resuming it would
// raise another exception, and so on until the stack is gone), and the
// process goes on as sound as before, again and again.
TEST(CallGuarded, LeavesNonContinuableExceptionsWithoutResumingThem) {
    for (int i = 0; i < 200; ++i) {
        auto r = CallGuarded(i % 2 ? ThrowsNoncontinuable : RaisesNoncontinuable);
        ASSERT_TRUE(r.faulted);
        ASSERT_EQ(r.exceptionCode, i % 2 ? 0xE06D7363u : 0xE0000042u);
    }
    EXPECT_EQ(CallGuarded(ReturnsSFalse).result, S_FALSE);
    EXPECT_THROW(throw std::runtime_error("still unwinds"), std::runtime_error);
}

TEST(CallGuarded, LeavesFaultsTheCalleeHandlesToIt) {
    auto r = CallGuarded(HandlesItsOwnFault);
    EXPECT_FALSE(r.faulted);
    EXPECT_EQ(r.result, S_OK);
}

TEST(CallGuarded, RecoversFromStackOverflowsAgainAndAgain) {
#if defined(__x86_64__)
    auto RunningUnderWine = [] { return GetProcAddress(GetModuleHandleA("ntdll.dll"), "wine_get_version") != nullptr; };
    // Wine ends a 64-bit process whose stack overflows before any handler
    // runs (Windows keeps the thread's stack guarantee for the handlers), so
    // there the guard is run where servers run: in the 64-bit helper, whose
    // end with its exit code is then the file's reason. Each time the file
    // fails with a reason, without waiting out the time-out, and the next
    // file succeeds.
    if (RunningUnderWine()) {
        const std::string folder = testenv::TestDataDir() + "misbehave\\";
        engine::THelper helper(engine::pe::TMachine::X64);
        engine::TRegContext context;
        context.timeoutMs = 10000;  // a hang fails with its own reason
        for (int i = 0; i < 3; ++i) {
            engine::TRegOutcome r = helper.Run(engine::TServerKind::Library, folder + "StackOverflow.dll", true, context);
            EXPECT_FALSE(r.success);
            EXPECT_TRUE(r.details.find("0xC00000FD (stack overflow)") != std::string::npos ||
                        r.details.find("helper ended while it was loading or calling 'StackOverflow.dll' (exit code 0x") !=
                            std::string::npos)
                << r.details;
            EXPECT_TRUE(helper.Run(engine::TServerKind::Library, folder + "Ok.dll", true, context).success);
        }
        return;
    }
#endif
    for (int i = 0; i < 3; ++i) {
        auto r = CallGuarded(OverflowsTheStack);
        EXPECT_TRUE(r.faulted);
        EXPECT_EQ(r.exceptionCode, static_cast<DWORD>(EXCEPTION_STACK_OVERFLOW));
    }
}

TEST(CallGuarded, TheProcessStaysSoundAfterManyFaults) {
    for (int i = 0; i < 1000; ++i) {
        ASSERT_TRUE(CallGuarded(i % 2 ? WritesThroughNull : DividesByZero).faulted) << i;
    }
    // C++ exceptions, threads and unguarded code still work.
    EXPECT_THROW(throw std::runtime_error("after"), std::runtime_error);
    int value = 0;
    std::thread([&] { value = 7; }).join();
    EXPECT_EQ(value, 7);
    EXPECT_FALSE(CallGuarded(ReturnsSFalse).faulted);
}

// A guarded call made from inside a window procedure, as the task window does.
LRESULT CALLBACK GuardingWindow(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
    if (msg == WM_APP) return CallGuarded(WritesThroughNull).faulted ? 1 : 2;
    return DefWindowProcA(hwnd, msg, wParam, lParam);
}

TEST(CallGuarded, WorksInsideAWindowProcedure) {
    WNDCLASSA wc{};
    wc.lpfnWndProc = GuardingWindow;
    wc.hInstance = GetModuleHandleA(nullptr);
    wc.lpszClassName = "GuardingWindow";
    RegisterClassA(&wc);
    HWND window = CreateWindowA("GuardingWindow", "", WS_POPUP, 0, 0, 10, 10, nullptr, nullptr, wc.hInstance, nullptr);
    ASSERT_NE(window, nullptr);
    EXPECT_EQ(SendMessageA(window, WM_APP, 0, 0), 1);
    PostMessageA(window, WM_APP, 0, 0);
    MSG msg;
    ASSERT_TRUE(PeekMessageA(&msg, window, WM_APP, WM_APP, PM_REMOVE));
    EXPECT_EQ(DispatchMessageA(&msg), 1);
    DestroyWindow(window);
}

}  // namespace
