// The program's entry: the panel, its 50 ms timer and the message loop until the panel closes,
// which lets the dialog manager move the keyboard among the controls (Tab, Shift+Tab, Space,
// Escape) as in any dialog.
#include <windows.h>

#include "app/panel.h"
#include "app/panel_state.h"

int WINAPI WinMain(HINSTANCE instance, HINSTANCE /*previous*/, LPSTR /*commandLine*/, int showCommand) {
    panelImageOperations = &kImagingLibraryOperations;
    CountDropPromptCharacters();
    RegisterPanelClass(instance);
    if (!CreatePanel(instance, showCommand)) return 0;
    panelTimerId = SetTimer(panelWindow, kPanelTimerEvent, kPanelTimerPeriodMs, nullptr);
    MSG message = {};
    while (GetMessageA(&message, nullptr, 0, 0) > 0) {
        if (IsDialogMessageA(panelWindow, &message)) continue;
        TranslateMessage(&message);
        DispatchMessageA(&message);
    }
    KillTimer(panelWindow, panelTimerId);  // the destroyed panel took its timer with it already
    return static_cast<int>(message.wParam);
}
