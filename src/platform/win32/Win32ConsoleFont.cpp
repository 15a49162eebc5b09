// The console's font and its scale on Win32 (see Win32ConsoleFont.h).
#include "platform/win32/Win32ConsoleFont.h"

#include <iterator>

namespace {

constexpr int kConsoleFontPoints = 9;
constexpr int kPointsPerInch = 72;
constexpr WORD kMissingGlyph = 0xFFFF;

// What the console writes: client addresses and host names (digits, Latin letters and their
// punctuation) and the banner's Chinese words.
constexpr wchar_t kNeededCharacters[] = L"0123456789.:-_ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz本机名称ＩＰ：";

// The faces tried in turn, Chinese user-interface faces first. SimSun (宋体) is the classic
// one of a Chinese Windows, for which the form was laid out. Where a face is missing, Windows
// (and Wine) stand in another with the same character set, which may lack Latin letters and
// digits altogether (Wine picks Droid Sans Fallback, which has neither, when ImageMagick or
// Ghostscript brought it): every candidate is checked for the glyphs themselves.
struct FaceCandidate {
    const wchar_t* face;
    BYTE charSet;
};
constexpr FaceCandidate kFaces[] = {
    { L"SimSun", GB2312_CHARSET },
    { L"NSimSun", GB2312_CHARSET },
    { L"Microsoft YaHei", GB2312_CHARSET },
    { L"SimHei", GB2312_CHARSET },
    { L"WenQuanYi Micro Hei", DEFAULT_CHARSET },
    { L"WenQuanYi Zen Hei", DEFAULT_CHARSET },
    { L"Noto Sans CJK SC", DEFAULT_CHARSET },
    { L"AR PL UMing CN", DEFAULT_CHARSET },
    // Latin faces last: the addresses stay readable where no Chinese face has them.
    { L"Tahoma", DEFAULT_CHARSET },
    { L"MS Shell Dlg 2", DEFAULT_CHARSET },
};

HFONT createFace(const FaceCandidate& candidate, int dpi)
{
    LOGFONTW font {};
    GetObjectW(GetStockObject(DEFAULT_GUI_FONT), sizeof font, &font);
    // The size is asked for as the height of the line (a positive lfHeight), not of the
    // characters, so that a stand-in Chinese face, whose lines have more space between them,
    // still fits two lines in the banner.
    font.lfHeight = MulDiv(kConsoleFontPoints, dpi, kPointsPerInch);
    font.lfWidth = 0;
    font.lfCharSet = candidate.charSet;
    lstrcpynW(font.lfFaceName, candidate.face, LF_FACESIZE);
    return CreateFontIndirectW(&font);
}

// How many of the needed characters the font has no glyph for.
int missingGlyphs(HFONT font)
{
    HDC screen = GetDC(nullptr);
    HGDIOBJ previous = SelectObject(screen, font);
    constexpr int count = static_cast<int>(std::size(kNeededCharacters)) - 1;
    WORD glyphs[count] = {};
    DWORD converted = GetGlyphIndicesW(screen, kNeededCharacters, count, glyphs, GGI_MARK_NONEXISTING_GLYPHS);
    SelectObject(screen, previous);
    ReleaseDC(nullptr, screen);
    if (converted == GDI_ERROR)
        return count;
    int missing = 0;
    for (WORD glyph : glyphs)
        missing += glyph == kMissingGlyph ? 1 : 0;
    return missing;
}

using GetDpiForWindowCall = UINT(WINAPI*)(HWND);

} // namespace

int windowDpi(HWND window)
{
    // Looked up, since Windows 7 and 8 lack it.
    static const auto getDpiForWindow = reinterpret_cast<GetDpiForWindowCall>(
        reinterpret_cast<void*>(GetProcAddress(GetModuleHandleW(L"user32.dll"), "GetDpiForWindow")));
    if (getDpiForWindow && window) {
        if (UINT dpi = getDpiForWindow(window))
            return static_cast<int>(dpi);
    }
    HDC screen = GetDC(nullptr);
    int dpi = GetDeviceCaps(screen, LOGPIXELSY);
    ReleaseDC(nullptr, screen);
    return dpi > 0 ? dpi : kFormDpi;
}

int scaleToDpi(int formPixels, int dpi) { return MulDiv(formPixels, dpi, kFormDpi); }

// The first face with every needed glyph; else the one that lacks the fewest.
HFONT createConsoleFont(int dpi)
{
    HFONT best = nullptr;
    int bestMissing = 0;
    for (const FaceCandidate& candidate : kFaces) {
        HFONT font = createFace(candidate, dpi);
        if (!font)
            continue;
        int missing = missingGlyphs(font);
        if (missing == 0) {
            if (best)
                DeleteObject(best);
            return font;
        }
        if (!best || missing < bestMissing) {
            if (best)
                DeleteObject(best);
            best = font;
            bestMissing = missing;
        } else {
            DeleteObject(font);
        }
    }
    return best;
}

int lineHeight(HFONT font)
{
    HDC screen = GetDC(nullptr);
    HGDIOBJ previous = SelectObject(screen, font);
    TEXTMETRICW metrics {};
    GetTextMetricsW(screen, &metrics);
    SelectObject(screen, previous);
    ReleaseDC(nullptr, screen);
    return metrics.tmHeight;
}
