// Resource identifiers of the multiplexer library.
#pragma once

#define IDS_VARROW_ABOUT 1
#define IDS_VARROW_SETTINGS 2
#define IDD_VARROW_VERSION 104
#define IDD_VARROW_SETTINGS 107
#define IDC_VARROW_DESCRIPTION 1027
#define IDC_VARROW_TITLE 1054
#define IDC_VARROW_VERSION 1055
#define IDC_VARROW_NOTE 1056
