#pragma once
// Holds the splash artwork, loaded from the program's resources.
#include <windows.h>

#include "common/QVHandles.h"

class THolder {
public:
    THolder();
    // The 500 x 400 splash artwork; null when it cannot be loaded.
    HBITMAP SplashImage() const { return splashImage_.get(); }

private:
    qv::GdiObject<HBITMAP> splashImage_;
};
