// The panel window driven in-process through its real window procedure: class, placement, the
// three controls as created, the close-box hit test, dragging and the end of a drag.
#include <windows.h>

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "app/panel.h"
#include "app/panel_state.h"
#include "tests/app/panel_test_support.h"

namespace {

class PanelWindowTest : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_NE(CreateTestPanel(), nullptr); }
    void TearDown() override {
        ReleaseCapture();
        DestroyTestPanel();
    }
};

TEST_F(PanelWindowTest, IsABorderlessPopupCentredByTheDesktopsRightAndBottomEdges) {
    RECT desktop;
    GetWindowRect(GetDesktopWindow(), &desktop);
    RECT window;
    GetWindowRect(panelWindow, &window);
    EXPECT_EQ(window.left, (desktop.right - 239) >> 1);
    EXPECT_EQ(window.top, (desktop.bottom - 102) >> 1);
    EXPECT_EQ(window.right - window.left, 239);
    EXPECT_EQ(window.bottom - window.top, 102);
    RECT client;
    GetClientRect(panelWindow, &client);
    EXPECT_EQ(client.right, 239);
    EXPECT_EQ(client.bottom, 102);
    // The system adds WS_CLIPSIBLINGS to every top-level window.
    EXPECT_EQ(GetWindowLongA(panelWindow, GWL_STYLE) & ~(WS_VISIBLE | WS_CLIPSIBLINGS), static_cast<LONG>(WS_POPUP));
    EXPECT_TRUE(IsWindowVisible(panelWindow));
    EXPECT_EQ(GetWindowLongA(panelWindow, GWL_EXSTYLE) & WS_EX_ACCEPTFILES, WS_EX_ACCEPTFILES);
    char title[16] = {};
    GetWindowTextA(panelWindow, title, sizeof(title));
    EXPECT_STREQ(title, "Wobzy");
    EXPECT_EQ(panelRect.left, 0);
    EXPECT_EQ(panelRect.top, 0);
    EXPECT_EQ(panelRect.right, 239);
    EXPECT_EQ(panelRect.bottom, 102);
}

TEST_F(PanelWindowTest, ClassHasTheIconRedrawStylesAndWindowBackground) {
    WNDCLASSEXA panelClass = {};
    panelClass.cbSize = sizeof(panelClass);
    ASSERT_TRUE(GetClassInfoExA(GetModuleHandleA(nullptr), "WobzyClass", &panelClass));
    EXPECT_EQ(panelClass.style, static_cast<UINT>(CS_HREDRAW | CS_VREDRAW));
    EXPECT_EQ(panelClass.lpfnWndProc, PanelWindowProc);
    EXPECT_EQ(panelClass.hbrBackground, reinterpret_cast<HBRUSH>(COLOR_WINDOW + 1));
    EXPECT_EQ(panelClass.lpszMenuName, nullptr);
    EXPECT_NE(panelClass.hIcon, nullptr);  // IDI_WOBZY, linked into this test from res/
}

// Every window created on this thread, in creation order, as the CBT hook saw it.
struct CreatedWindow {
    std::string className;
    std::string text;  // the caption as the window reads it, back in Shift_JIS
    LONG style;
    LONG exStyle;
    int x, y, width, height;
    UINT_PTR id;
    HWND parent;
};
std::vector<CreatedWindow> createdWindows;

LRESULT CALLBACK RecordCreation(int code, WPARAM wParam, LPARAM lParam) {
    if (code == HCBT_CREATEWND) {
        HWND window = reinterpret_cast<HWND>(wParam);
        const CREATESTRUCTW* create = reinterpret_cast<CBT_CREATEWNDW*>(lParam)->lpcs;
        CreatedWindow created;
        char className[64] = {};
        GetClassNameA(window, className, sizeof(className));
        created.className = className;
        created.text = create->lpszName ? WideToShiftJisBytes(create->lpszName) : "";
        created.style = create->style;
        created.exStyle = create->dwExStyle;
        created.x = create->x;
        created.y = create->y;
        created.width = create->cx;
        created.height = create->cy;
        created.id = reinterpret_cast<UINT_PTR>(create->hMenu);
        created.parent = create->hwndParent;
        createdWindows.push_back(created);
    }
    return CallNextHookEx(nullptr, code, wParam, lParam);
}

TEST_F(PanelWindowTest, CreatesTheThreeControlsInOrderWithTheirTextsStylesAndPlaces) {
    createdWindows.clear();
    HHOOK hook = SetWindowsHookExW(WH_CBT, RecordCreation, nullptr, GetCurrentThreadId());
    HWND panel = CreateTestPanel();
    UnhookWindowsHookEx(hook);
    // The panel and its children; the platform may make windows of its own on the thread.
    std::vector<CreatedWindow> ours;
    for (const CreatedWindow& created : createdWindows)
        if (created.className == "WobzyClass" || created.parent == panel) ours.push_back(created);
    createdWindows = ours;
    ASSERT_EQ(createdWindows.size(), 4u);
    EXPECT_EQ(createdWindows[0].className, "WobzyClass");
    const LONG editStyle = WS_CHILD | WS_VISIBLE | WS_TABSTOP | ES_NUMBER | ES_AUTOHSCROLL;
    const LONG checkboxStyle = WS_CHILD | WS_VISIBLE | WS_TABSTOP | BS_AUTOCHECKBOX;
    struct Expected {
        const char* className;
        std::string text;
        LONG style;
        int x, y, width, height;
        UINT_PTR id;
    } expected[] = {
        {"Edit", "20", editStyle, 168, 48, 40, 20, 1000},
        // "高さ/幅サイズ制限"
        {"Button", "\x8D\x82\x82\xB3\x2F\x95\x9D\x83\x54\x83\x43\x83\x59\x90\xA7\x8C\xC0", checkboxStyle, 8, 72, 156, 20, 1001},
        {"Edit", "400", editStyle, 168, 73, 40, 20, 1002},
    };
    for (int i = 0; i < 3; ++i) {
        SCOPED_TRACE(i);
        const CreatedWindow& created = createdWindows[i + 1];
        EXPECT_EQ(created.className, expected[i].className);
        EXPECT_EQ(created.text, expected[i].text);
        EXPECT_EQ(created.style, expected[i].style);
        EXPECT_EQ(created.exStyle, 0);
        EXPECT_EQ(created.x, expected[i].x);
        EXPECT_EQ(created.y, expected[i].y);
        EXPECT_EQ(created.width, expected[i].width);
        EXPECT_EQ(created.height, expected[i].height);
        EXPECT_EQ(created.id, expected[i].id);
        EXPECT_EQ(created.parent, panel);
    }
    EXPECT_EQ(GetDlgCtrlID(shakeEdit), 1000);
    EXPECT_EQ(GetDlgCtrlID(sizeLimitCheckbox), 1001);
    EXPECT_EQ(GetDlgCtrlID(limitEdit), 1002);
    EXPECT_EQ(SendMessageA(sizeLimitCheckbox, BM_GETCHECK, 0, 0), BST_UNCHECKED);
    // The platform's default font, except where Japanese needs one that has its glyphs.
    const bool shiftJisSystem = GetACP() == 932;
    EXPECT_EQ(SendMessageA(sizeLimitCheckbox, WM_GETFONT, 0, 0) == 0, shiftJisSystem);
    EXPECT_EQ(SendMessageA(shakeEdit, WM_GETFONT, 0, 0), 0);
    EXPECT_EQ(SendMessageA(limitEdit, WM_GETFONT, 0, 0), 0);
}

// Client points pressed, and whether the press is inside the close box's hit area.
struct PressCase {
    int x, y;
    bool closes;
};

class CloseBoxTest : public PanelWindowTest, public ::testing::WithParamInterface<PressCase> {};

TEST_P(CloseBoxTest, PressClosesOnlyInsideTheHitAreaAndOtherwiseStartsADrag) {
    const PressCase press = GetParam();
    HWND panel = panelWindow;
    SendMessageA(panel, WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(press.x, press.y));
    MSG quit;
    bool quitPosted = PeekMessageA(&quit, nullptr, WM_QUIT, WM_QUIT, PM_REMOVE) != 0;
    EXPECT_EQ(dragAnchorX, press.x);
    EXPECT_EQ(dragAnchorY, press.y);
    if (press.closes) {
        EXPECT_FALSE(IsWindow(panel));
        ASSERT_TRUE(quitPosted);
        EXPECT_EQ(quit.wParam, 0u);
    } else {
        EXPECT_TRUE(IsWindow(panel));
        EXPECT_FALSE(quitPosted);
        EXPECT_TRUE(panelDragging);
        EXPECT_EQ(GetCapture(), panel);
        SendMessageA(panel, WM_LBUTTONUP, 0, MAKELPARAM(press.x, press.y));
        EXPECT_FALSE(panelDragging);
        EXPECT_EQ(GetCapture(), nullptr);
    }
}

INSTANTIATE_TEST_SUITE_P(EdgePoints, CloseBoxTest,
                         ::testing::Values(PressCase{221, 10, true}, PressCase{214, 0, true},
                                           PressCase{228, 21, true}, PressCase{228, 0, true},
                                           PressCase{214, 21, true}, PressCase{213, 10, false},
                                           PressCase{229, 10, false}, PressCase{221, 22, false},
                                           PressCase{100, 50, false}),
                         [](const ::testing::TestParamInfo<PressCase>& info) {
                             return "At" + std::to_string(info.param.x) + "x" + std::to_string(info.param.y);
                         });

POINT WindowOrigin(HWND window) {
    RECT rect;
    GetWindowRect(window, &rect);
    return POINT{rect.left, rect.top};
}

TEST_F(PanelWindowTest, DragKeepsTheGrabbedPixelUnderTheCursor) {
    SendMessageA(panelWindow, WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(50, 30));
    const POINT cursors[] = {{500, 400}, {30, 20}, {10, 5}};
    for (POINT cursor : cursors) {
        SetCursorPos(cursor.x, cursor.y);
        SendMessageA(panelWindow, WM_MOUSEMOVE, MK_LBUTTON, MAKELPARAM(0, 0));
        POINT origin = WindowOrigin(panelWindow);
        // Also off the screen: the position is not limited.
        EXPECT_EQ(origin.x, cursor.x - 50);
        EXPECT_EQ(origin.y, cursor.y - 30);
    }
    SendMessageA(panelWindow, WM_LBUTTONUP, 0, 0);
    SetCursorPos(300, 300);
    SendMessageA(panelWindow, WM_MOUSEMOVE, MK_LBUTTON, 0);
    EXPECT_EQ(WindowOrigin(panelWindow).x, 10 - 50);
}

TEST_F(PanelWindowTest, PressAndReleaseWithoutMoveLeavesThePanelInPlace) {
    POINT before = WindowOrigin(panelWindow);
    SendMessageA(panelWindow, WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(60, 40));
    SendMessageA(panelWindow, WM_LBUTTONUP, 0, MAKELPARAM(60, 40));
    POINT after = WindowOrigin(panelWindow);
    EXPECT_EQ(after.x, before.x);
    EXPECT_EQ(after.y, before.y);
    EXPECT_EQ(GetCapture(), nullptr);
}

TEST_F(PanelWindowTest, LosingTheCaptureEndsTheDrag) {
    SendMessageA(panelWindow, WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(50, 30));
    ASSERT_EQ(GetCapture(), panelWindow);
    HWND other = CreateWindowExA(0, "STATIC", "", WS_POPUP, 0, 0, 10, 10, nullptr, nullptr, nullptr, nullptr);
    SetCapture(other);  // the panel gets WM_CAPTURECHANGED, and its button release goes elsewhere
    EXPECT_FALSE(panelDragging);
    POINT before = WindowOrigin(panelWindow);
    SetCursorPos(600, 500);
    SendMessageA(panelWindow, WM_MOUSEMOVE, MK_LBUTTON, 0);
    POINT after = WindowOrigin(panelWindow);
    EXPECT_EQ(after.x, before.x);
    EXPECT_EQ(after.y, before.y);
    ReleaseCapture();
    DestroyWindow(other);
}

TEST_F(PanelWindowTest, AMoveWithTheButtonUpEndsTheDragInsteadOfMoving) {
    SendMessageA(panelWindow, WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(50, 30));
    POINT before = WindowOrigin(panelWindow);
    SetCursorPos(600, 500);
    SendMessageA(panelWindow, WM_MOUSEMOVE, 0, 0);
    EXPECT_FALSE(panelDragging);
    EXPECT_EQ(GetCapture(), nullptr);
    POINT after = WindowOrigin(panelWindow);
    EXPECT_EQ(after.x, before.x);
    EXPECT_EQ(after.y, before.y);
}

// What closes the panel: the close message itself, and Escape as the dialog manager passes it on.
struct ClosingCase {
    const char* name;
    UINT message;
    WPARAM wParam;
};

class ClosingTest : public PanelWindowTest, public ::testing::WithParamInterface<ClosingCase> {};

TEST_P(ClosingTest, DestroysThePanelAndPostsQuitWithZero) {
    HWND panel = panelWindow;
    SendMessageA(panel, GetParam().message, GetParam().wParam, 0);
    EXPECT_FALSE(IsWindow(panel));
    MSG quit;
    ASSERT_TRUE(PeekMessageA(&quit, nullptr, WM_QUIT, WM_QUIT, PM_REMOVE));
    EXPECT_EQ(quit.wParam, 0u);
}

INSTANTIATE_TEST_SUITE_P(Messages, ClosingTest,
                         ::testing::Values(ClosingCase{"Close", WM_CLOSE, 0},
                                           ClosingCase{"Escape", WM_COMMAND, IDCANCEL}),
                         [](const ::testing::TestParamInfo<ClosingCase>& info) { return std::string(info.param.name); });

// Enter reaches the panel as IDOK, and the controls send their notifications: none closes it or
// changes a setting.
TEST_F(PanelWindowTest, EnterAndControlNotificationsLeaveThePanelAsItIs) {
    const WPARAM commands[] = {IDOK, MAKEWPARAM(kShakeEditId, EN_CHANGE), MAKEWPARAM(kLimitEditId, EN_SETFOCUS),
                               MAKEWPARAM(kSizeLimitCheckboxId, BN_CLICKED)};
    for (WPARAM command : commands) EXPECT_EQ(SendMessageA(panelWindow, WM_COMMAND, command, 0), 0);
    EXPECT_TRUE(IsWindow(panelWindow));
    MSG quit;
    EXPECT_FALSE(PeekMessageA(&quit, nullptr, WM_QUIT, WM_QUIT, PM_REMOVE));
    char text[16] = {};
    GetWindowTextA(shakeEdit, text, sizeof(text));
    EXPECT_STREQ(text, "20");
    EXPECT_EQ(SendMessageA(sizeLimitCheckbox, BM_GETCHECK, 0, 0), BST_UNCHECKED);
}

// Tab goes round the controls in this order, Shift+Tab the other way; the panel itself is not a
// stop (the dialog manager asks GetNextDlgTabItem).
TEST_F(PanelWindowTest, TabOrderIsShakeEditCheckboxLimitEditAndRound) {
    const HWND order[] = {shakeEdit, sizeLimitCheckbox, limitEdit};
    for (int i = 0; i < 3; ++i) {
        SCOPED_TRACE(i);
        EXPECT_EQ(GetNextDlgTabItem(panelWindow, order[i], FALSE), order[(i + 1) % 3]);
        EXPECT_EQ(GetNextDlgTabItem(panelWindow, order[i], TRUE), order[(i + 2) % 3]);
    }
}

// The keyboard is in the shake edit when the panel becomes active, and back in the control that
// had it when the panel is active again after another window was.
TEST_F(PanelWindowTest, ActivationGivesTheKeyboardToTheShakeEditThenToTheLastControl) {
    SendMessageA(panelWindow, WM_ACTIVATE, WA_ACTIVE, 0);
    EXPECT_EQ(GetFocus(), shakeEdit);
    SetFocus(limitEdit);
    SendMessageA(panelWindow, WM_ACTIVATE, WA_INACTIVE, 0);
    SetFocus(nullptr);
    SendMessageA(panelWindow, WM_ACTIVATE, WA_CLICKACTIVE, 0);
    EXPECT_EQ(GetFocus(), limitEdit);
}

TEST_F(PanelWindowTest, TheShakeEditHasTheKeyboardOnceThePanelIsShown) { EXPECT_EQ(GetFocus(), shakeEdit); }

}  // namespace
