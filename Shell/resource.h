// Resource ids of the dialogs (read by the resource compiler too).
#pragma once

#define IDD_SETTS 100
#define IDC_FRAME 101
#define IDC_CHKIU 102
#define IDC_CHKID 103
#define IDC_COMMENT 104
#define IDD_ABOUT 110
#define IDC_ABOUT_TEXT 111
#define IDD_FIND 120
#define IDC_FINDWHAT 121
#define IDC_MATCHCASE 122
#define IDC_FINDLABEL 123
#define IDD_FILTER 130
#define IDC_FILTER_FIELD 131
#define IDC_FILTER_RELATION 132
#define IDC_FILTER_VALUE 133
#define IDC_FILTER_ADD 134
#define IDC_FILTER_RULES 135
#define IDC_FILTER_REMOVE 136
#define IDC_FILTER_RESET 137
#define IDC_FILTER_HINT 138
