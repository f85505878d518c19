#include "ui/ImageSet.h"

#include <algorithm>

namespace ui {

TImageSet::~TImageSet() {
    if (normal_) ImageList_Destroy(normal_);
    if (disabled_) ImageList_Destroy(disabled_);
}

bool TImageSet::Load(HINSTANCE instance, const std::vector<std::pair<int, int>>& candidates, int dpi) {
    if (candidates.empty()) return false;
    std::vector<std::pair<int, int>> sorted = candidates;
    std::sort(sorted.begin(), sorted.end());
    int wanted = MulDiv(16, dpi > 0 ? dpi : 96, 96);
    auto choice = sorted.front();
    for (const auto& candidate : sorted) {
        if (candidate.first <= wanted) choice = candidate;
    }
    HBITMAP strip = static_cast<HBITMAP>(
        LoadImageA(instance, MAKEINTRESOURCEA(choice.second), IMAGE_BITMAP, 0, 0, LR_CREATEDIBSECTION));
    if (!strip) return false;
    DIBSECTION dib{};
    if (GetObjectA(strip, sizeof dib, &dib) != sizeof dib || dib.dsBm.bmBitsPixel != 32 || !dib.dsBm.bmBits) {
        DeleteObject(strip);
        return false;
    }
    size_ = choice.first;
    int count = dib.dsBm.bmWidth / size_;
    normal_ = ImageList_Create(size_, size_, ILC_COLOR32, count, 0);
    disabled_ = ImageList_Create(size_, size_, ILC_COLOR32, count, 0);
    ImageList_Add(normal_, strip, nullptr);

    // The disabled look: each pixel in grey at less than half its opacity.
    auto* pixels = static_cast<BYTE*>(dib.dsBm.bmBits);
    size_t bytes = static_cast<size_t>(dib.dsBm.bmWidthBytes) * static_cast<size_t>(std::abs(dib.dsBm.bmHeight));
    for (size_t i = 0; i + 3 < bytes; i += 4) {
        BYTE grey = static_cast<BYTE>((pixels[i] * 29 + pixels[i + 1] * 150 + pixels[i + 2] * 77) / 256);
        grey = static_cast<BYTE>(96 + grey * 5 / 8);
        pixels[i] = pixels[i + 1] = pixels[i + 2] = grey;
        pixels[i + 3] = static_cast<BYTE>(pixels[i + 3] * 45 / 100);
    }
    ImageList_Add(disabled_, strip, nullptr);
    DeleteObject(strip);
    return true;
}

void TImageSet::Draw(HDC dc, int index, int x, int y, bool enabled) const {
    HIMAGELIST list = enabled ? normal_ : disabled_;
    if (list && index >= 0 && index < Count()) ImageList_Draw(list, index, dc, x, y, ILD_TRANSPARENT);
}

HICON TImageSet::MakeIcon(int index) const {
    return normal_ && index >= 0 && index < Count() ? ImageList_GetIcon(normal_, index, ILD_TRANSPARENT) : nullptr;
}

}  // namespace ui
