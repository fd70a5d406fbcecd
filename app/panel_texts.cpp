// The panel's Japanese texts and their drawing: as Shift_JIS bytes where that is the ANSI code
// page, elsewhere through their Unicode form in a font that has Japanese glyphs.
#include "app/panel_texts.h"

#include "app/panel.h"
#include "app/panel_state.h"

const char kCloseCrossMark[] = "\x81\x7E";                            // "×"
const char kCloseSquareMark[] = "\x81\xA0";                           // "□"
const char kShakeLabel[] = "\x97\x68\x82\xEA\x8B\xEF\x8D\x87";        // "揺れ具合"
const char kPercentSign[] = "%";
const char kDropPrompt[] =                                            // "ファイルをドロップ"
    "\x83\x74\x83\x40\x83\x43\x83\x8B\x82\xF0\x83\x68\x83\x8D\x83\x62\x83\x76";
const char kSizeLimitCaption[] =                                      // "高さ/幅サイズ制限"
    "\x8D\x82\x82\xB3\x2F\x95\x9D\x83\x54\x83\x43\x83\x59\x90\xA7\x8C\xC0";
static_assert(sizeof(kDropPrompt) - 1 == kDropPromptBytes, "nine two-byte characters");
static_assert(sizeof(kShakeLabel) - 1 == kShakeLabelBytes, "four two-byte characters");
static_assert(sizeof(kSizeLimitCaption) - 1 == 17, "caption bytes");

// Longer than any text of the panel, in UTF-16 units (never more than the Shift_JIS bytes).
constexpr int kMaxWideText = 32;
// Most Japanese systems have it; where they do not, the charset still picks a Japanese font.
static const char kJapaneseFontFace[] = "MS UI Gothic";

// The cell height of the system font, so the texts keep the size they have on a Shift_JIS system.
static LONG SystemFontHeight() {
    HDC screen = GetDC(nullptr);
    HGDIOBJ previous = SelectObject(screen, GetStockObject(SYSTEM_FONT));
    TEXTMETRICA metrics = {};
    GetTextMetricsA(screen, &metrics);
    SelectObject(screen, previous);
    ReleaseDC(nullptr, screen);
    return metrics.tmHeight;
}

HFONT CreatePanelJapaneseFont() {
    if (AnsiCodePageIsShiftJis() && panelDpi == systemDpi) return nullptr;
    LOGFONTA font = {};
    font.lfHeight = MulDiv(SystemFontHeight(), panelDpi, systemDpi);
    font.lfCharSet = SHIFTJIS_CHARSET;
    lstrcpynA(font.lfFaceName, kJapaneseFontFace, LF_FACESIZE);
    return CreateFontIndirectA(&font);
}

// The same for a NUL-terminated text, into kMaxWideText units; empty when it does not fit.
static void ShiftJisToWideString(const char* text, wchar_t* wide) {
    if (ShiftJisToWide(text, -1, wide, kMaxWideText) == 0) wide[0] = L'\0';
}

// TextOutA would read the bytes in the ANSI code page, and the default fonts of a system with
// another code page have no Japanese glyphs: hence the Unicode form and panelJapaneseFont.
void DrawShiftJisText(HDC dc, int x, int y, const char* text, int32_t byteCount) {
    if (AnsiCodePageIsShiftJis()) {
        TextOutA(dc, x, y, text, byteCount);
        return;
    }
    wchar_t wide[kMaxWideText];
    int length = ShiftJisToWide(text, byteCount, wide, kMaxWideText);
    TextOutW(dc, x, y, wide, length);
}

HWND CreateShiftJisControl(HWND parent, const char* className, const char* text, DWORD style,
                           int x, int y, int width, int height, int id) {
    HMENU idAsMenu = ControlIdAsMenu(id);
    if (AnsiCodePageIsShiftJis()) {
        return CreateWindowExA(0, className, text, style, x, y, width, height, parent, idAsMenu,
                               panelInstance, nullptr);
    }
    wchar_t wideClass[kMaxWideText];
    wchar_t wideText[kMaxWideText];
    ShiftJisToWideString(className, wideClass);
    ShiftJisToWideString(text, wideText);
    return CreateWindowExW(0, wideClass, wideText, style, x, y, width, height, parent, idAsMenu,
                           panelInstance, nullptr);
}
