// The main window, its menu bar and window procedure.
#ifndef VELMORA_APP_APP_H
#define VELMORA_APP_APP_H

#include <windows.h>

// Written once at start-up: parent of every control, owner of every box and
// of the progress popup, and the window all timers belong to.
extern HWND mainWindow;

// The Language submenu of the menu bar attached now.
extern HMENU languageMenu;

extern const wchar_t MainWindowClass[];

// Registers the window class and creates mainWindow, centred on the screen,
// with its menu bar and every control, not yet shown. The entry point and
// the tests both make the window here. Returns mainWindow, nullptr when it
// could not be created.
HWND createMainWindow(HINSTANCE instance);

void buildMenuBar();
void rebuildMenuBar();

LRESULT CALLBACK mainWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
INT_PTR CALLBACK aboutDialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam);

// The boxes that follow a ShellExecute result for the help file.
void reportHelpResult(INT_PTR result);

#endif
