// Helpers for the in-process panel tests: a fresh panel, a drop built by hand, the recording
// stand-in for the conversion, the capture of warning boxes and the check for missing glyphs.
#pragma once

#include <windows.h>
#include <shellapi.h>

#include <map>
#include <string>
#include <vector>

#include "convert/conversion_job.h"

// One conversion of a drop, with the settings it saw.
struct RecordedConversion {
    std::string path;
    ConversionSettings settings;
};

// What the drop's conversions and the box capture saw, in order: "convert <path>" and "box <path>",
// both paths in UTF-8.
extern std::vector<std::string> panelEvents;
extern std::vector<RecordedConversion> recordedConversions;
// Paths whose conversion fails, with the code of the step that fails.
extern std::map<std::string, int> failingPaths;
// Called once per conversion as it starts.
extern void (*duringConversion)(const std::string& path);

// One warning box, as the test read it before closing it.
struct CapturedBox {
    std::wstring caption;
    std::wstring text;
    HWND owner;
    bool hasWarningIcon;
    RECT window;  // on the screen, as it is shown
};
extern std::vector<CapturedBox> capturedBoxes;

// Installs, for the calling thread, the hook that reads and closes every message box.
class MessageBoxCapture {
public:
    MessageBoxCapture();
    ~MessageBoxCapture();
private:
    HHOOK hook_;
};

// Registers the class once, creates a new panel (destroying the last one) as the program does,
// its drops converted with the recording image-operations double.
HWND CreateTestPanel();
void DestroyTestPanel();
// Drops the messages queued for the thread (the panel's quit message among them).
void DrainThreadMessages();

// An HDROP holding the UTF-8 `paths` as UTF-16, as the shell builds it, to be sent with
// WM_DROPFILES (the handler frees it); MakeAnsiDrop holds them as ANSI bytes, as older programs do.
HDROP MakeDrop(const std::vector<std::string>& utf8Paths);
HDROP MakeAnsiDrop(const std::vector<std::string>& paths);

std::wstring ShiftJisBytesToWide(const std::string& bytes);
std::string WideToShiftJisBytes(const std::wstring& text);
std::wstring AnsiToWide(const std::string& bytes);
std::wstring Utf8ToWideString(const std::string& bytes);
std::string WideToUtf8String(const std::wstring& text);

// Characters of `text` that the font selected into `dc` cannot show, also through font linking.
std::wstring MissingGlyphs(HDC dc, const std::wstring& text);

// The smallest rectangle holding every pixel of `area` of `dc` that is not `background`; left >
// right when there is none.
RECT InkBounds(HDC dc, RECT area, COLORREF background);

// A 32-bit DIB section of width x height, rows top-down; *bits points at its pixels.
HBITMAP CreateTopDownBitmap(HDC dc, int width, int height, void** bits);

// The state of the process-wide random sequence after `count` more values from `state`.
uint32_t AdvanceRandomState(uint32_t state, int count);
