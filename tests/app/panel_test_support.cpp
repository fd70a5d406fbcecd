// The drop's recording image operations and the helpers shared by the in-process panel tests.
#include "tests/app/panel_test_support.h"

#include <shlobj.h>

#include <algorithm>
#include <climits>
#include <cstring>

#include "app/panel.h"
#include "app/panel_state.h"
#include "convert/shake_warp.h"
#include "convert/warning_box.h"
#include "tests/support/image_operations_double.h"

std::vector<std::string> panelEvents;
std::vector<RecordedConversion> recordedConversions;
std::map<std::string, int> failingPaths;
void (*duringConversion)(const std::string& path);
std::vector<CapturedBox> capturedBoxes;

// The drop's conversions run the real job with the recording double: loading records what the
// drop handler handed over, and the paths the test chose fail at the step of their code, so the
// job reports them through the real warning box.
static ImageHandle LoadRecordingTheDrop(const char* path) {
    recordedConversions.push_back({path, conversionSettings});
    panelEvents.push_back(std::string("convert ") + path);
    if (duringConversion != nullptr) duringConversion(path);
    auto failing = failingPaths.find(path);
    const int code = failing != failingPaths.end() ? failing->second : -1;
    ResetImageOpsDouble();
    imageOps.loadWidth = imageOps.loadHeight = 2;
    imageOps.failLoad = code == kLoadFailed;
    imageOps.failPrepare = code == kPrepareFailed;
    imageOps.failDuplicateNumber = code >= kFirstCopyFailed && code < kSaveFailed ? code - kFirstCopyFailed + 1 : 0;
    imageOps.failWrite = code == kSaveFailed;
    return kRecordingImageOperations.load(path);
}

static ImageOperations DropTestOperations() {
    ImageOperations operations = kRecordingImageOperations;
    operations.load = LoadRecordingTheDrop;
    return operations;
}

static std::wstring WindowTextW(HWND window) {
    wchar_t text[2048] = {};
    GetWindowTextW(window, text, 2048);
    return text;
}

// Whether one of the box's static controls shows `icon` (the system's shared warning icon).
static bool ShowsIcon(HWND box, HICON icon) {
    for (HWND child = GetWindow(box, GW_CHILD); child != nullptr; child = GetWindow(child, GW_HWNDNEXT)) {
        if ((GetWindowLongA(child, GWL_STYLE) & SS_TYPEMASK) != SS_ICON) continue;
        if (reinterpret_cast<HICON>(SendMessageA(child, STM_GETICON, 0, 0)) == icon) return true;
    }
    return false;
}

static LRESULT CALLBACK CaptureMessageBox(int code, WPARAM wParam, LPARAM lParam) {
    if (code == HCBT_ACTIVATE) {
        HWND box = reinterpret_cast<HWND>(wParam);
        char className[32] = {};
        GetClassNameA(box, className, sizeof(className));
        if (std::strcmp(className, "#32770") == 0) {
            CapturedBox captured;
            captured.caption = WindowTextW(box);
            captured.text = WindowTextW(GetDlgItem(box, 0xFFFF));
            captured.owner = GetWindow(box, GW_OWNER);
            captured.hasWarningIcon = ShowsIcon(box, LoadIconA(nullptr, IDI_WARNING));
            GetWindowRect(box, &captured.window);
            capturedBoxes.push_back(captured);
            panelEvents.push_back("box " + WideToUtf8String(captured.text));
            PostMessageA(box, WM_COMMAND, IDOK, 0);
        }
    }
    return CallNextHookEx(nullptr, code, wParam, lParam);
}

MessageBoxCapture::MessageBoxCapture()
    : hook_(SetWindowsHookExA(WH_CBT, CaptureMessageBox, nullptr, GetCurrentThreadId())) {}

MessageBoxCapture::~MessageBoxCapture() { UnhookWindowsHookEx(hook_); }

void DrainThreadMessages() {
    MSG message;
    while (PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE)) {
        if (message.message != WM_QUIT) DispatchMessageA(&message);
    }
}

void DestroyTestPanel() {
    if (panelWindow != nullptr && IsWindow(panelWindow)) DestroyWindow(panelWindow);
    panelWindow = nullptr;
    DrainThreadMessages();
}

HWND CreateTestPanel() {
    static bool registered = false;
    HINSTANCE instance = GetModuleHandleA(nullptr);
    if (!registered) {
        RegisterPanelClass(instance);
        registered = true;
    }
    DestroyTestPanel();
    CountDropPromptCharacters();
    panelDragging = false;
    panelTimerId = kPanelTimerEvent;
    static const ImageOperations operations = DropTestOperations();
    panelImageOperations = &operations;
    if (!CreatePanel(instance, SW_SHOWNORMAL)) return nullptr;
    return panelWindow;
}

// The names one after another, each with its NUL, and a final NUL: what DROPFILES points at.
template <typename Char>
static HDROP MakeDropOf(const std::vector<std::basic_string<Char>>& paths, BOOL wide) {
    size_t characters = 1;
    for (const auto& path : paths) characters += path.size() + 1;
    HGLOBAL memory = GlobalAlloc(GMEM_MOVEABLE | GMEM_ZEROINIT, sizeof(DROPFILES) + characters * sizeof(Char));
    auto* drop = static_cast<DROPFILES*>(GlobalLock(memory));
    drop->pFiles = sizeof(DROPFILES);
    drop->fWide = wide;
    Char* names = reinterpret_cast<Char*>(reinterpret_cast<char*>(drop) + sizeof(DROPFILES));
    for (const auto& path : paths) {
        std::memcpy(names, path.c_str(), (path.size() + 1) * sizeof(Char));
        names += path.size() + 1;
    }
    GlobalUnlock(memory);
    return static_cast<HDROP>(memory);
}

HDROP MakeDrop(const std::vector<std::string>& utf8Paths) {
    std::vector<std::wstring> wide;
    for (const std::string& path : utf8Paths) wide.push_back(Utf8ToWideString(path));
    return MakeDropOf(wide, TRUE);
}

HDROP MakeAnsiDrop(const std::vector<std::string>& paths) { return MakeDropOf(paths, FALSE); }

static std::wstring ToWide(UINT codePage, const std::string& bytes) {
    if (bytes.empty()) return std::wstring();
    int length = MultiByteToWideChar(codePage, 0, bytes.data(), static_cast<int>(bytes.size()), nullptr, 0);
    std::wstring wide(static_cast<size_t>(length), L'\0');
    MultiByteToWideChar(codePage, 0, bytes.data(), static_cast<int>(bytes.size()), &wide[0], length);
    return wide;
}

std::wstring ShiftJisBytesToWide(const std::string& bytes) { return ToWide(932, bytes); }
std::wstring AnsiToWide(const std::string& bytes) { return ToWide(CP_ACP, bytes); }
std::wstring Utf8ToWideString(const std::string& bytes) { return ToWide(CP_UTF8, bytes); }

std::string WideToUtf8String(const std::wstring& text) {
    if (text.empty()) return std::string();
    int length = WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0, nullptr, nullptr);
    std::string bytes(static_cast<size_t>(length), '\0');
    WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), &bytes[0], length, nullptr, nullptr);
    return bytes;
}

std::string WideToShiftJisBytes(const std::wstring& text) {
    if (text.empty()) return std::string();
    int length = WideCharToMultiByte(932, 0, text.data(), static_cast<int>(text.size()), nullptr, 0, nullptr, nullptr);
    std::string bytes(static_cast<size_t>(length), '\0');
    WideCharToMultiByte(932, 0, text.data(), static_cast<int>(text.size()), &bytes[0], length, nullptr, nullptr);
    return bytes;
}

RECT InkBounds(HDC dc, RECT area, COLORREF background) {
    RECT ink = {LONG_MAX, LONG_MAX, LONG_MIN, LONG_MIN};
    GdiFlush();
    for (int y = area.top; y < area.bottom; ++y) {
        for (int x = area.left; x < area.right; ++x) {
            if (GetPixel(dc, x, y) == background) continue;
            ink.left = std::min<LONG>(ink.left, x);
            ink.top = std::min<LONG>(ink.top, y);
            ink.right = std::max<LONG>(ink.right, x + 1);
            ink.bottom = std::max<LONG>(ink.bottom, y + 1);
        }
    }
    return ink;
}

HBITMAP CreateTopDownBitmap(HDC dc, int width, int height, void** bits) {
    BITMAPINFO info = {};
    info.bmiHeader.biSize = sizeof(info.bmiHeader);
    info.bmiHeader.biWidth = width;
    info.bmiHeader.biHeight = -height;
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = 32;
    return CreateDIBSection(dc, &info, DIB_RGB_COLORS, bits, nullptr, 0);
}

// The black-on-white pixels of one character drawn alone in the font of `dc`, font linking included.
static std::vector<uint32_t> RenderCharacter(HDC dc, wchar_t character) {
    constexpr int kSide = 48;
    HDC memory = CreateCompatibleDC(dc);
    void* bits = nullptr;
    HBITMAP bitmap = CreateTopDownBitmap(memory, kSide, kSide, &bits);
    HGDIOBJ previousBitmap = SelectObject(memory, bitmap);
    HGDIOBJ previousFont = SelectObject(memory, GetCurrentObject(dc, OBJ_FONT));
    RECT all = {0, 0, kSide, kSide};
    FillRect(memory, &all, static_cast<HBRUSH>(GetStockObject(WHITE_BRUSH)));
    SetTextColor(memory, RGB(0, 0, 0));
    SetBkMode(memory, TRANSPARENT);
    TextOutW(memory, 4, 4, &character, 1);
    GdiFlush();
    const uint32_t* pixels = static_cast<const uint32_t*>(bits);
    std::vector<uint32_t> copy(pixels, pixels + kSide * kSide);
    SelectObject(memory, previousFont);
    SelectObject(memory, previousBitmap);
    DeleteObject(bitmap);
    DeleteDC(memory);
    return copy;
}

std::wstring MissingGlyphs(HDC dc, const std::wstring& text) {
    std::vector<WORD> indices(text.size());
    GetGlyphIndicesW(dc, text.c_str(), static_cast<int>(text.size()), indices.data(),
                     GGI_MARK_NONEXISTING_GLYPHS);
    // A character the font itself lacks may still be drawn from a linked font; it is missing
    // only when it comes out as the font's placeholder for characters nobody has.
    const std::vector<uint32_t> placeholder = RenderCharacter(dc, 0xFFFF);
    const std::vector<uint32_t> blank(placeholder.size(), 0x00FFFFFFu);
    std::wstring missing;
    for (size_t i = 0; i < text.size(); ++i) {
        if (indices[i] != 0xFFFF) continue;
        std::vector<uint32_t> drawn = RenderCharacter(dc, text[i]);
        if (drawn == placeholder || drawn == blank) missing += text[i];
    }
    return missing;
}

uint32_t AdvanceRandomState(uint32_t state, int count) {
    uint32_t saved = randomSequenceState;
    randomSequenceState = state;
    for (int i = 0; i < count; ++i) NextRandomValue();
    uint32_t advanced = randomSequenceState;
    randomSequenceState = saved;
    return advanced;
}
