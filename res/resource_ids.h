/* Ids shared by the resource script and the program: icons, dialogs,
   controls and commands. Plain #defines so that windres can read it too. */
#ifndef VELMORA_RESOURCE_IDS_H
#define VELMORA_RESOURCE_IDS_H

/* Icon groups */
#define IDI_PROGRAM         1   /* the program file's icon (magnifier with a key) */
#define IDI_MAIN_WINDOW     2   /* window class and About box (handshake, check mark) */
#define IDI_MSG_SUCCESS     3   /* green disc, white check mark */
#define IDI_MSG_WARNING     4   /* orange triangle, white exclamation mark */
#define IDI_MSG_ERROR       5   /* red disc, white cross */
#define IDI_MSG_HINT        6   /* yellow question mark */
#define IDI_MSG_RETRY       7   /* two red arrows chasing each other */

/* About dialog templates */
#define IDD_ABOUT_RU        1
#define IDD_ABOUT_EN        2

/* Controls of the main window; radios and buttons send these as commands */
#define ID_PORT_LIST        1
#define ID_SEARCH           2
#define ID_IF_TOUCH_MEMORY  3
#define ID_IF_WIEGAND26     4
#define ID_IF_WIEGAND44     5
#define ID_IND_DIRECT       6
#define ID_IND_INVERSE      7
#define ID_STANDBY_DYNAMIC  8
#define ID_STANDBY_STATIC   9
#define ID_STANDBY_OFF      10
#define ID_TOUCH_POLL_ON    11
#define ID_TOUCH_POLL_OFF   12
#define ID_READ             13
#define ID_WRITE            14
#define ID_MODE_WINDOWS     20
#define ID_MODE_ALL_OS      21
#define ID_OUT_HEX_DEC      22
#define ID_OUT_TOUCH_MEMORY 23
#define ID_FMT_HEX          24
#define ID_FMT_DEC          25
#define ID_BYTES_5          26
#define ID_BYTES_4          27
#define ID_BYTES_3          28
#define ID_BYTES_2          29
#define ID_VERSION_LABEL    30
#define ID_VERSION_VALUE    31
#define ID_CARDS_ALL        32
#define ID_CARDS_HID_EM     33
#define ID_CARDS_MIFARE_PAY 34

/* Menu commands */
#define ID_MENU_QUIT        15
#define ID_MENU_LANG_RU     16
#define ID_MENU_LANG_EN     17
#define ID_MENU_HELP        18
#define ID_MENU_ABOUT       19

#endif
