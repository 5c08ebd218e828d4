#pragma once
// The banner at the size the dialog needs. The art is drawn at 100, 150 and
// 200 % (tools/art); the smallest drawing at least as large as the banner is
// scaled down to it by averaging the source pixels each target pixel covers,
// so that no line of the art is dropped or doubled. At exactly a drawing's
// size the drawing itself is shown, pixel for pixel.
#include <windows.h>

#include "common/UniqueHandle.h"

namespace kv::traits {
struct GdiBitmap {
    using pointer = HBITMAP;
    static pointer invalid() noexcept { return nullptr; }
    static void close(pointer bitmap) noexcept { ::DeleteObject(bitmap); }
};
}  // namespace kv::traits

namespace BannerArt {

using unique_bitmap = kv::unique_any<kv::traits::GdiBitmap>;

// The banner bitmap of 100 % and the larger drawings.
enum : int { kBanner100 = 134, kBanner150 = 137, kBanner200 = 138 };

// A 24-bit bitmap of the given size from the module's art; null when no
// drawing could be loaded.
unique_bitmap Make(HINSTANCE module, int width, int height);

}  // namespace BannerArt
