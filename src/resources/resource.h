// Resource ids of Scrapvault, grouped by kind.
#pragma once

// Menus, accelerators, toolbar and icon of the main frame.
#define IDR_MAINFRAME 203
#define IDR_TREE_CONTEXT 209
#define IDR_TRAY_MENU 216
#define IDR_VIEW_CONTEXT 225

// Images of the archive tree.
#define IDB_TREE_BLANK 212
#define IDI_TYPE_BITMAP 218
#define IDI_TYPE_HTML 219
#define IDI_TYPE_METAFILE 220
#define IDI_TYPE_RTF 221
#define IDI_TYPE_TEXT 222

// Dialogs and their controls.
#define IDD_WARNING 5233
#define IDC_DONT_SHOW_AGAIN 5251
#define IDC_WARNING_TEXT 5311
#define IDD_OPTIONS 109
#define IDC_PROCESS_TEXTS 215
#define IDC_PROCESS_HTML 218
#define IDC_PROCESS_RTF 219
#define IDC_PROCESS_IMAGES 220
#define IDC_PROCESS_METAFILES 221
#define IDC_ITEMS_LIMIT 223
#define IDC_DISK_SIZE_LIMIT 224
#define IDC_BROWSE 225
#define IDC_LOAD_TODAY_ONLY 227
#define IDC_ARCHIVE_FOLDER 228
#define IDC_LAUNCH_ON_STARTUP 229
#define IDC_HOT_KEY 230
#define IDC_EXCLUDED_PROGRAMS 231
#define IDD_EXCLUDED_PROGRAMS 113
#define IDC_EXCLUDED_LIST 232
#define IDC_REMOVE_PROGRAM 233
#define IDD_ABOUT 111
#define IDC_ABOUT_VERSION 1101
#define IDC_ABOUT_MAKER 1102
#define IDC_ABOUT_LINK 1103

// Commands.
#define ID_APP_ABOUT 32768
#define ID_APP_EXIT 32769
#define ID_EXTERNAL_VIEWER 32770
#define ID_EDIT_CLEAR_ALL 32771
#define ID_GROUP_BY_TYPE 32773
#define ID_GROUP_BY_APPLICATION 32774
#define ID_GROUP_BY_DATE 32775
#define ID_EDIT_DELETE 32778
#define ID_EDIT_FIND 32779
#define ID_VIEW_OPTIONS 32782
#define ID_VIEW_FONT 32783
#define ID_VIEW_WORD_WRAP 32785
#define ID_FILE_SAVE_AS 32786
#define ID_HELP_CONTENTS 32788
#define ID_EDIT_COPY 32789
#define ID_FILE_PAUSE 32790
#define ID_FILE_SAVE 32793
#define ID_SHOW_MAIN_WINDOW 32796
#define ID_NEVER_ARCHIVE_PROGRAM 32797
#define ID_EDIT_FILTER 32798

// Strings.
#define IDS_PRODUCT_NAME 100
#define IDS_TYPE_BITMAP 101
#define IDS_TYPE_TEXT 102
#define IDS_CONFIRM_DELETE 103
#define IDS_CONFIRM_CLEAR 104
#define IDS_TYPE_METAFILE 105
#define IDS_FIND_TREE_WRAP 106
#define IDS_TYPE_RTF 107
#define IDS_TYPE_HTML 108
#define IDS_ARCHIVE_SIZE_WARNING 109
#define IDS_FIND_VIEW_WRAP 110
#define IDS_SAVE_CHANGES 111
// Added to the program's own texts: a Save As whose file could not be written.
#define IDS_SAVE_FAILED 112
// Added: an item whose file cannot be read back (copy, save, view), and captures
// that cannot be written while memory for them runs out.
#define IDS_ITEM_UNREADABLE 120
#define IDS_ITEM_UNREADABLE_VIEW 121
#define IDS_WRITES_FAILING 122
// Added: the filter box's cue and the status bar's count of its matches.
#define IDS_FILTER_CUE 123
#define IDS_FILTER_MATCHES 124
#define IDS_FILTER_ONE_MATCH 125
#define IDS_FILTER_NO_MATCH 126
#define IDS_FILTER_NEWEST_SHOWN 127
// Added: the status bar while the catalog is built in the background.
#define IDS_CATALOGING 130
#define IDS_READY 57345
