#include "ui/Actions.h"

#include "ui/Form.h"

namespace ui {

std::string ShortCutText(const TShortCut& shortCut) {
    if (shortCut.Key == 0) return std::string();
    std::string text;
    if (shortCut.Shift & ssCtrl) text += "Ctrl+";
    if (shortCut.Shift & ssShift) text += "Shift+";
    if (shortCut.Shift & ssAlt) text += "Alt+";
    WORD key = shortCut.Key;
    switch (key) {
    case VK_INSERT: return text + "Ins";
    case VK_DELETE: return text + "Del";
    case VK_PRIOR: return text + "PgUp";
    case VK_NEXT: return text + "PgDn";
    case VK_HOME: return text + "Home";
    case VK_END: return text + "End";
    case VK_RETURN: return text + "Enter";
    case VK_ESCAPE: return text + "Esc";
    default: break;
    }
    if (key >= VK_F1 && key <= VK_F24) return text + "F" + std::to_string(key - VK_F1 + 1);
    if ((key >= 'A' && key <= 'Z') || (key >= '0' && key <= '9')) return text + static_cast<char>(key);
    return text + "#" + std::to_string(key);
}

void TAction::SetImageIndex(int index) {
    if (imageIndex_ == index) return;
    imageIndex_ = index;
    list_.Changed(*this);
}

void TAction::SetEnabled(bool enabled) {
    if (enabled_ == enabled) return;
    enabled_ = enabled;
    list_.Changed(*this);
}

void TAction::SetChecked(bool checked) {
    if (checked_ == checked) return;
    checked_ = checked;
    list_.Changed(*this);
}

bool TAction::Execute() {
    list_.Update();
    if (!enabled_ || list_.Locked() || !OnExecute) return false;
    // Copied: the handler may change what the action does.
    auto handler = OnExecute;
    handler();
    return true;
}

TAction& TActionList::Add(const std::string& name, const std::string& caption, TShortCut shortCut, int imageIndex,
                          const std::string& hint, std::function<void()> onExecute) {
    auto action = std::make_unique<TAction>(*this, kFirstId + static_cast<int>(actions_.size()));
    action->Name = name;
    action->Caption = caption;
    action->ShortCut = shortCut;
    action->imageIndex_ = imageIndex;
    action->Hint = hint;
    action->OnExecute = std::move(onExecute);
    actions_.push_back(std::move(action));
    return *actions_.back();
}

TAction* TActionList::ById(int id) const {
    size_t index = static_cast<size_t>(id - kFirstId);
    return id >= kFirstId && index < actions_.size() ? actions_[index].get() : nullptr;
}

TAction* TActionList::ByName(const std::string& name) const {
    for (auto& action : actions_) {
        if (action->Name == name) return action.get();
    }
    return nullptr;
}

TAction* TActionList::ByShortCut(const TShortCut& shortCut) const {
    if (shortCut.Key == 0) return nullptr;
    for (auto& action : actions_) {
        if (action->ShortCut == shortCut) return action.get();
    }
    return nullptr;
}

void TActionList::Update() {
    // An update handler that shows a window would come back here.
    if (updating_ || !OnUpdate) return;
    updating_ = true;
    ++updates_;
    try {
        OnUpdate();
    } catch (...) {
        updating_ = false;
        throw;
    }
    updating_ = false;
}

void TActionList::AddObserver(std::function<void(TAction&)> observer) { observers_.push_back(std::move(observer)); }

void TActionList::Changed(TAction& action) {
    for (auto& observer : observers_) observer(action);
}

}  // namespace ui
