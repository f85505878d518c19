#pragma once
// Commands as actions: each action carries a caption, a shortcut, a picture,
// a hint, its enabled state and check mark, and what it does. Menu items,
// toolbar buttons and context-menu items are bound to actions, so a change of
// an action shows everywhere at once. One update handler of the list decides
// every action's state when the application is idle and before any action
// runs.
#include <windows.h>

#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace ui {

// A key with its shift state (ssShift, ssCtrl, ssAlt of Form.h); key 0 is
// no shortcut.
struct TShortCut {
    WORD Key = 0;
    unsigned Shift = 0;
    bool operator==(const TShortCut& other) const { return Key == other.Key && Shift == other.Shift; }
};

// The shortcut as a menu shows it: "Ctrl+N", "Del", "Ctrl+PgUp", "F6".
std::string ShortCutText(const TShortCut& shortCut);

class TActionList;

class TAction {
public:
    TAction(TActionList& list, int id) : list_(list), id_(id) {}
    TAction(const TAction&) = delete;
    TAction& operator=(const TAction&) = delete;

    int Id() const { return id_; }

    std::string Name;
    std::string Caption;
    TShortCut ShortCut;
    std::string Hint;
    std::function<void()> OnExecute;

    int ImageIndex() const { return imageIndex_; }
    bool Enabled() const { return enabled_; }
    bool Checked() const { return checked_; }
    // Setters tell the bound controls only when the value changes.
    void SetImageIndex(int index);
    void SetEnabled(bool enabled);
    void SetChecked(bool checked);

    // Brings every action's state up to date, then runs OnExecute when the
    // action is enabled and the list is not locked. True when it ran.
    bool Execute();

private:
    friend class TActionList;
    TActionList& list_;
    int id_;
    int imageIndex_ = -1;
    bool enabled_ = true;
    bool checked_ = false;
};

class TActionList {
public:
    // Command identifiers of the actions start here; menu items and toolbar
    // buttons use their action's identifier.
    static constexpr int kFirstId = 40000;

    TActionList() = default;
    TActionList(const TActionList&) = delete;
    TActionList& operator=(const TActionList&) = delete;

    TAction& Add(const std::string& name, const std::string& caption, TShortCut shortCut, int imageIndex,
                 const std::string& hint, std::function<void()> onExecute);
    TAction* ById(int id) const;
    TAction* ByName(const std::string& name) const;
    // The enabled or disabled action with that shortcut, or null.
    TAction* ByShortCut(const TShortCut& shortCut) const;
    const std::vector<std::unique_ptr<TAction>>& Actions() const { return actions_; }

    // Decides every action's state; runs on idle and before any action.
    std::function<void()> OnUpdate;
    void Update();

    // Told when an action's state changes (its enabled state, check mark or
    // picture), so that bound controls can follow.
    void AddObserver(std::function<void(TAction&)> observer);

    // While locked, no action runs (a long operation is in progress whose
    // state must not change under it). Nested locks count.
    void Lock() { ++locks_; }
    void Unlock() {
        if (locks_ > 0) --locks_;
    }
    bool Locked() const { return locks_ > 0; }

    // How many times the update handler ran (for measuring idle cost).
    unsigned long UpdateCount() const { return updates_; }

private:
    friend class TAction;
    void Changed(TAction& action);

    std::vector<std::unique_ptr<TAction>> actions_;
    std::vector<std::function<void(TAction&)>> observers_;
    int locks_ = 0;
    bool updating_ = false;
    unsigned long updates_ = 0;
};

// Holds an action list's lock for the life of the object.
class TActionLock {
public:
    explicit TActionLock(TActionList& list) : list_(list) { list_.Lock(); }
    ~TActionLock() { list_.Unlock(); }
    TActionLock(const TActionLock&) = delete;
    TActionLock& operator=(const TActionLock&) = delete;

private:
    TActionList& list_;
};

}  // namespace ui
