// Resource identifiers shared by the program's .rc scripts, the language libraries and the code.
#pragma once

#define IDD_ABOUT 100
#define IDD_MAIN 102

#define IDS_ABOUT_ENTRY 101
#define IDS_NOT_USED 102

#define IDI_APPLICATION_ICON 128
#define IDI_PINNED 129
#define IDI_UNPINNED 130

#define IDC_RESULT_LIST 1000
#define IDC_WEB_LINK 1002

#define IDM_ABOUT 16
