#include "app/UpgradeDialogLayout.h"

#include <algorithm>

#include "app/DpiSupport.h"

namespace {
constexpr int kBandHeight = 85;
// The least room between the banner and the status text, and below the
// text within the band, at 96 DPI.
constexpr int kTextBelowBanner = 18;
constexpr int kBandBelowText = 8;

int Width(const RECT& rect) { return rect.right - rect.left; }
int Height(const RECT& rect) { return rect.bottom - rect.top; }

RECT Offset(RECT rect, int dy) {
    rect.top += dy;
    rect.bottom += dy;
    return rect;
}

RECT ScaledRect(const RECT& rect, UINT fromDpi, UINT toDpi) {
    const auto scale = [&](LONG value) {
        return static_cast<LONG>(::MulDiv(value, static_cast<int>(toDpi), static_cast<int>(fromDpi)));
    };
    return RECT{scale(rect.left), scale(rect.top), scale(rect.right), scale(rect.bottom)};
}
}  // namespace

namespace UpgradeDialogLayout {

Bands BannerAndBand(int clientWidth, UINT dpi) {
    // The old fixed layout drew the banner one pixel past the right edge
    // and the band one past each edge; the same overhang stays at any size.
    const int bannerWidth = clientWidth + 1;
    const int bannerHeight = ::MulDiv(kBannerHeight, bannerWidth, kBannerWidth);
    Bands bands{};
    bands.banner = RECT{0, 0, bannerWidth, bannerHeight};
    bands.band = RECT{-1, bannerHeight, clientWidth + 2, bannerHeight + DpiSupport::Scale(kBandHeight, dpi)};
    return bands;
}

Frame Scaled(const Frame& frame, UINT fromDpi, UINT toDpi) {
    if (fromDpi == toDpi || fromDpi == 0) return frame;
    Frame scaled = frame;
    scaled.clientWidth = ::MulDiv(frame.clientWidth, static_cast<int>(toDpi), static_cast<int>(fromDpi));
    scaled.clientHeight = ::MulDiv(frame.clientHeight, static_cast<int>(toDpi), static_cast<int>(fromDpi));
    scaled.status = ScaledRect(frame.status, fromDpi, toDpi);
    scaled.upgrade = ScaledRect(frame.upgrade, fromDpi, toDpi);
    scaled.close = ScaledRect(frame.close, fromDpi, toDpi);
    return scaled;
}

Placement Arrange(const Frame& frame, UINT dpi, const Needs& needs) {
    Placement placement{};
    placement.bands = BannerAndBand(frame.clientWidth, dpi);

    // A font wider than the reference one widens the client and so heightens
    // the banner: what lies below moves down by as much as it must.
    const int bannerBottom = placement.bands.banner.bottom;
    const int shift = std::max(0, bannerBottom + DpiSupport::Scale(kTextBelowBanner, dpi) -
                                      static_cast<int>(frame.status.top));
    const int statusHeight = std::max(Height(frame.status), needs.statusHeight);
    placement.status = Offset(frame.status, shift);
    placement.status.bottom = placement.status.top + statusHeight;
    const int down = shift + statusHeight - Height(frame.status);

    RECT& band = placement.bands.band;
    band.bottom = std::max<LONG>(band.bottom + down, placement.status.bottom + DpiSupport::Scale(kBandBelowText, dpi));

    const int buttonGap = frame.close.left - frame.upgrade.right;
    placement.close = Offset(frame.close, down);
    placement.close.left = placement.close.right - std::max(Width(frame.close), needs.closeWidth);
    placement.upgrade = Offset(frame.upgrade, down);
    placement.upgrade.right = placement.close.left - buttonGap;
    placement.upgrade.left = placement.upgrade.right - std::max(Width(frame.upgrade), needs.upgradeWidth);

    placement.clientHeight = frame.clientHeight + down;
    return placement;
}

}  // namespace UpgradeDialogLayout
