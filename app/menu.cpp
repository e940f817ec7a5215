// The menu bar, built from the current texts; made again from scratch on
// every language change.
#include <windows.h>

#include "app/app.h"
#include "prefs/preferences.h"
#include "prefs/texts.h"
#include "res/resource_ids.h"

HWND mainWindow;
HMENU languageMenu;
const wchar_t MainWindowClass[] = L"my Window";

void buildMenuBar()
{
    HMENU menuBar = CreateMenu();
    HMENU fileMenu = CreateMenu();
    HMENU toolsMenu = CreateMenu();
    HMENU helpMenu = CreateMenu();
    languageMenu = CreatePopupMenu();

    AppendMenuW(fileMenu, MF_STRING, ID_MENU_QUIT, TextTable[TxtMenuQuit]);
    // Each language is offered under its own name, whatever the current one.
    AppendMenuW(languageMenu, MF_STRING, ID_MENU_LANG_RU, L"Русский");
    AppendMenuW(languageMenu, MF_STRING, ID_MENU_LANG_EN, L"English");
    CheckMenuItem(languageMenu, uiLanguage == UiLanguage::English ? ID_MENU_LANG_EN : ID_MENU_LANG_RU,
                  MF_BYCOMMAND | MF_CHECKED);
    AppendMenuW(toolsMenu, MF_POPUP, reinterpret_cast<UINT_PTR>(languageMenu), TextTable[TxtMenuLanguage]);
    AppendMenuW(helpMenu, MF_STRING, ID_MENU_HELP, TextTable[TxtMenuHelpItem]);
    AppendMenuW(helpMenu, MF_SEPARATOR, 0, nullptr);
    AppendMenuW(helpMenu, MF_STRING, ID_MENU_ABOUT, TextTable[TxtMenuAbout]);

    AppendMenuW(menuBar, MF_POPUP, reinterpret_cast<UINT_PTR>(fileMenu), TextTable[TxtMenuFile]);
    AppendMenuW(menuBar, MF_POPUP, reinterpret_cast<UINT_PTR>(toolsMenu), TextTable[TxtMenuTools]);
    AppendMenuW(menuBar, MF_POPUP, reinterpret_cast<UINT_PTR>(helpMenu), TextTable[TxtMenuHelp]);
    SetMenu(mainWindow, menuBar);
}

void rebuildMenuBar()
{
    // Destroying the bar destroys every drop-down and the Language submenu.
    DestroyMenu(GetMenu(mainWindow));
    buildMenuBar();
}
