#include "app/BannerArt.h"

#include <vector>

#include "log/KvQmtLog.h"

using namespace KvQmtLogging;

namespace {

struct Drawing {
    int id;
    int width;
    int height;
};

const Drawing kDrawings[] = {
    {BannerArt::kBanner100, 421, 55},
    {BannerArt::kBanner150, 632, 82},
    {BannerArt::kBanner200, 842, 110},
};

const Drawing& ChooseDrawing(int width, int height) {
    for (const Drawing& drawing : kDrawings) {
        if (drawing.width >= width && drawing.height >= height) return drawing;
    }
    return kDrawings[sizeof(kDrawings) / sizeof(kDrawings[0]) - 1];
}

// How much of each source pixel one target pixel covers along one axis.
struct Share {
    int source;
    double weight;
};

std::vector<std::vector<Share>> Coverage(int sourceLength, int targetLength) {
    std::vector<std::vector<Share>> shares(static_cast<size_t>(targetLength));
    const double step = static_cast<double>(sourceLength) / targetLength;
    for (int t = 0; t < targetLength; ++t) {
        const double begin = t * step;
        const double end = begin + step;
        for (int s = static_cast<int>(begin); s < sourceLength && s < end; ++s) {
            const double overlap = (s + 1 < end ? s + 1 : end) - (s > begin ? s : begin);
            if (overlap > 0) shares[static_cast<size_t>(t)].push_back({s, overlap / step});
        }
    }
    return shares;
}

struct Pixels {
    const BYTE* bits;
    int width;
    int height;
    int stride;
};

// Both bitmaps are 24 bits a pixel, rows padded to four bytes; the rows run
// the same way in both, so either order of rows scales alike.
void Resample(const Pixels& from, BYTE* to, int width, int height, int stride) {
    const auto across = Coverage(from.width, width);
    const auto down = Coverage(from.height, height);
    std::vector<double> rows(static_cast<size_t>(from.height) * static_cast<size_t>(width) * 3);
    for (int y = 0; y < from.height; ++y) {
        const BYTE* row = from.bits + static_cast<size_t>(y) * static_cast<size_t>(from.stride);
        for (int x = 0; x < width; ++x) {
            double* out = &rows[(static_cast<size_t>(y) * static_cast<size_t>(width) + static_cast<size_t>(x)) * 3];
            for (const Share& share : across[static_cast<size_t>(x)]) {
                for (int c = 0; c < 3; ++c) out[c] += share.weight * row[share.source * 3 + c];
            }
        }
    }
    for (int y = 0; y < height; ++y) {
        BYTE* row = to + static_cast<size_t>(y) * static_cast<size_t>(stride);
        for (int x = 0; x < width; ++x) {
            double sum[3] = {0, 0, 0};
            for (const Share& share : down[static_cast<size_t>(y)]) {
                const double* in =
                    &rows[(static_cast<size_t>(share.source) * static_cast<size_t>(width) + static_cast<size_t>(x)) * 3];
                for (int c = 0; c < 3; ++c) sum[c] += share.weight * in[c];
            }
            for (int c = 0; c < 3; ++c) row[x * 3 + c] = static_cast<BYTE>(sum[c] > 255.0 ? 255 : sum[c] + 0.5);
        }
    }
}

}  // namespace

namespace BannerArt {

unique_bitmap Make(HINSTANCE module, int width, int height) {
    const wchar_t* const kFunction = L"BannerArt::Make";
    if (width <= 0 || height <= 0) return unique_bitmap();
    const Drawing& drawing = ChooseDrawing(width, height);
    unique_bitmap art(static_cast<HBITMAP>(
        ::LoadImageW(module, MAKEINTRESOURCEW(drawing.id), IMAGE_BITMAP, 0, 0, LR_CREATEDIBSECTION)));
    DIBSECTION source{};
    if (!art || ::GetObjectW(art.get(), sizeof(source), &source) != sizeof(source) ||
        source.dsBm.bmBitsPixel != 24 || !source.dsBm.bmBits) {
        LogMessage(LogError, L"%s: Banner %d not loaded as a 24-bit picture: %lu", kFunction, drawing.id,
                   ::GetLastError());
        return unique_bitmap();
    }
    if (source.dsBm.bmWidth == width && source.dsBm.bmHeight == height) return art;

    BITMAPINFO info{};
    info.bmiHeader.biSize = sizeof(info.bmiHeader);
    info.bmiHeader.biWidth = width;
    // The same row order as the loaded drawing (bottom-up).
    info.bmiHeader.biHeight = source.dsBmih.biHeight < 0 ? -height : height;
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = 24;
    info.bmiHeader.biCompression = BI_RGB;
    void* bits = nullptr;
    unique_bitmap scaled(::CreateDIBSection(nullptr, &info, DIB_RGB_COLORS, &bits, nullptr, 0));
    if (!scaled || !bits) {
        LogMessage(LogError, L"%s: CreateDIBSection(%d x %d) failed: %lu", kFunction, width, height,
                   ::GetLastError());
        return unique_bitmap();
    }
    const Pixels from{static_cast<const BYTE*>(source.dsBm.bmBits), source.dsBm.bmWidth,
                      source.dsBm.bmHeight, source.dsBm.bmWidthBytes};
    Resample(from, static_cast<BYTE*>(bits), width, height, ((width * 3) + 3) & ~3);
    return scaled;
}

}  // namespace BannerArt
