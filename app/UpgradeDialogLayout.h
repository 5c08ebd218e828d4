#pragma once
// Where the upgrade dialog's parts go, in client pixels. The template sizes
// the dialog in dialog units, which follow the dialog font and the DPI; the
// banner and the white band follow the width that results, and the status
// text and the buttons make room for what they hold. At 96 DPI with the
// reference dialog font (a client 420 pixels wide) this gives the banner
// 421 x 55 and the band at y = 55, 423 x 85.
#include <windows.h>

namespace UpgradeDialogLayout {

// The banner art's own proportions.
constexpr int kBannerWidth = 421;
constexpr int kBannerHeight = 55;

struct Bands {
    RECT banner;
    RECT band;  // directly below the banner, a pixel past either edge
};

// The banner at the client's full width with the art's proportions, and the
// band below it, 85 pixels high at 96 DPI.
Bands BannerAndBand(int clientWidth, UINT dpi);

// The dialog as its template made it, in client pixels.
struct Frame {
    int clientWidth;
    int clientHeight;
    RECT status;
    RECT upgrade;
    RECT close;
};

// The room the texts need in their fonts, in pixels.
struct Needs {
    int statusHeight;
    int upgradeWidth;
    int closeWidth;
};

struct Placement {
    Bands bands;
    RECT status;
    RECT upgrade;
    RECT close;
    int clientHeight;
};

// The same frame at another DPI.
Frame Scaled(const Frame& frame, UINT fromDpi, UINT toDpi);

// The status text below the banner, as high as its text needs, the band
// behind it, the buttons below it, as wide as their texts need with the
// Close button's right edge kept, and the client as high as all that.
Placement Arrange(const Frame& frame, UINT dpi, const Needs& needs);

}  // namespace UpgradeDialogLayout
