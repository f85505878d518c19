#include "ui/Timer.h"

#include "ui/Form.h"

namespace ui {

TTimer::TTimer(TForm& owner) : owner_(owner) {
    id_ = owner.AddTimer([this] {
        if (enabled_ && OnTimer) OnTimer();
    });
}

TTimer::~TTimer() {
    if (enabled_ && owner_.Handle()) KillTimer(owner_.Handle(), id_);
    owner_.RemoveTimer(id_);
}

void TTimer::SetEnabled(bool enabled) {
    enabled_ = enabled;
    if (!owner_.Handle()) return;
    if (enabled_) {
        SetTimer(owner_.Handle(), id_, interval_, nullptr);
    } else {
        KillTimer(owner_.Handle(), id_);
    }
}

void TTimer::SetInterval(unsigned milliseconds) {
    interval_ = milliseconds == 0 ? 1 : milliseconds;
    if (enabled_) SetEnabled(true);
}

}  // namespace ui
