#pragma once
// A timer of a form: calls OnTimer every Interval milliseconds while enabled.
#include <windows.h>

#include <functional>

namespace ui {

class TForm;

class TTimer {
public:
    explicit TTimer(TForm& owner);
    ~TTimer();
    TTimer(const TTimer&) = delete;
    TTimer& operator=(const TTimer&) = delete;

    std::function<void()> OnTimer;
    bool Enabled() const { return enabled_; }
    // Starting an enabled timer again restarts its interval.
    void SetEnabled(bool enabled);
    unsigned Interval() const { return interval_; }
    // Changing the interval of an enabled timer restarts it.
    void SetInterval(unsigned milliseconds);

private:
    TForm& owner_;
    UINT_PTR id_;
    unsigned interval_ = 1000;
    bool enabled_ = false;
};

}  // namespace ui
