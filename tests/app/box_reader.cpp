// A test tool that reads the warning box of a running wobzy.exe from outside, as a screen reader
// would: it finds the dialog-class window owned by the panel and prints its title and its text
// as two UTF-8 lines. Exit status 1 while there is no such box.
#include <windows.h>

#include <string>

static HWND foundBox;

static BOOL CALLBACK FindBoxOwnedByThePanel(HWND window, LPARAM) {
    char className[32] = {};
    GetClassNameA(window, className, sizeof(className));
    HWND owner = GetWindow(window, GW_OWNER);
    char ownerClass[32] = {};
    if (owner != nullptr) GetClassNameA(owner, ownerClass, sizeof(ownerClass));
    if (lstrcmpA(className, "#32770") == 0 && lstrcmpA(ownerClass, "WobzyClass") == 0 && IsWindowVisible(window)) {
        foundBox = window;
        return FALSE;
    }
    return TRUE;
}

static std::string Utf8Text(HWND window) {
    wchar_t text[2048] = {};
    const int length = GetWindowTextW(window, text, 2048);
    std::string utf8(static_cast<size_t>(length) * 4 + 1, '\0');
    const int bytes = WideCharToMultiByte(CP_UTF8, 0, text, length, &utf8[0], int(utf8.size()), nullptr, nullptr);
    utf8.resize(static_cast<size_t>(bytes > 0 ? bytes : 0));
    return utf8;
}

int main() {
    EnumWindows(FindBoxOwnedByThePanel, 0);
    if (foundBox == nullptr) return 1;
    const std::string lines = Utf8Text(foundBox) + "\n" + Utf8Text(GetDlgItem(foundBox, 0xFFFF)) + "\n";
    DWORD written = 0;
    WriteFile(GetStdHandle(STD_OUTPUT_HANDLE), lines.data(), DWORD(lines.size()), &written, nullptr);
    return 0;
}
