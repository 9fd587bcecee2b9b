/* Resources of the program's own module (not the resource library): its icons, cursors and
   the list header's sort arrows. The cursors are also in the resource library, where the
   skin's time edits look for theirs. Plain #defines, read by the resource compiler too. */
#ifndef APP_RESOURCES_PROGRAM_IDS_H
#define APP_RESOURCES_PROGRAM_IDS_H

#define IDI_APP 109
#define IDI_DOCUMENT 143
#define IDC_CURSOR_EDIT 115
#define IDC_CURSOR_THUMB 119
#define IDC_CURSOR_GRAB 120
#define IDC_CURSOR_REGION 134
#define IDC_CURSOR_MOVE 135
#define IDB_SORT_UP 117
#define IDB_SORT_DOWN 118

#endif
