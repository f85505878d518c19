#pragma once
// The user's thirteen options, with their defaults, stored as values of the
// application key's "Options" subkey.
#include <cstdint>
#include <memory>
#include <string>

// When a batch run stops because of failed tasks.
enum TStopAfter : std::uint8_t { stopAfterFirst = 0, stopAfterN = 1, stopNever = 2 };

class TZEPHOptions {
public:
    // Every option at its default; the registry is not touched.
    TZEPHOptions() = default;

    // Reads the stored values, each with the field's current value as the
    // fallback. Never reports anything.
    void Load();
    // Writes every field, changed or not; the key is created when missing.
    void Save() const;

    bool SaveWindow = true;
    bool AutoOpenLastBatch = false;
    bool Backup = false;
    bool AutoSave = false;
    bool ShowTips = true;
    std::int32_t AutoSaveInterval = 5;  // minutes
    TStopAfter StopAfter = stopNever;
    std::int32_t MaxErrors = 5;
    bool UnregisterBefore = true;
    std::string FontName = "Tahoma";
    bool ColorDefault = true;
    std::uint32_t TextColor = 0x000000;        // black
    std::uint32_t BackgroundColor = 0xFFFFFF;  // white
};

// The options of the windowed program; null outside its lifetime.
extern std::unique_ptr<TZEPHOptions> Options;
