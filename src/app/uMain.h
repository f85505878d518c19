#pragma once
// The windowed start-up and its shutdown: the application record, the
// installation values, the splash window and the options.
#include <windows.h>

// The program's registry key under HKEY_LOCAL_MACHINE: the family's key and
// the program's own name below it.
inline constexpr char kFamilyKey[] = "Software\\Quorvandel\\Quorvandel Tessaly";
inline constexpr char kAppKeyName[] = "Corvantis";

// Fills AppInfo, writes "Location" and "Version", shows the splash window
// for SplashDurationMs, then creates and loads Options.
void StartApplication();
// Saves and frees Options, frees the splash picture and AppInfo.
void StopApplication();
// A copy of the splash artwork, or null when it cannot be drawn.
HBITMAP MakeSplashPicture();

// How long the splash window stays, in milliseconds.
extern unsigned SplashDurationMs;
