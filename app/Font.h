#pragma once
// A font object that owns its GDI font, in the shape of the framework's CFont.
#include <windows.h>

#include "common/UniqueHandle.h"

namespace kv::traits {
struct GdiFont {
    using pointer = HFONT;
    static pointer invalid() noexcept { return nullptr; }
    static void close(pointer font) noexcept { ::DeleteObject(font); }
};
}  // namespace kv::traits

class CFont {
public:
    // Takes ownership of the font; false (and nothing owned) for a null handle.
    bool Attach(HFONT font) {
        if (!font) return false;
        m_font.reset(font);
        return true;
    }
    HFONT GetSafeHandle() const { return m_font.get(); }

private:
    kv::unique_any<kv::traits::GdiFont> m_font;
};
