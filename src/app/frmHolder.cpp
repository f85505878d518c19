#include "app/frmHolder.h"

#include "resource.h"

THolder::THolder()
    : splashImage_(static_cast<HBITMAP>(LoadImageA(GetModuleHandleA(nullptr), MAKEINTRESOURCEA(IDB_SPLASH),
                                                   IMAGE_BITMAP, 0, 0, LR_CREATEDIBSECTION))) {}
