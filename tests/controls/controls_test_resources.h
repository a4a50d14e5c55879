// Resource ids of the window-control tests' resource script.
#pragma once

#define IDS_RTF_SHORT 101
#define IDS_RTF_LONG 102
#define IDS_REPLACEMENT 103

#define IDB_FRAME0 201
#define IDB_FRAME1 202
#define IDB_FRAME2 203
#define IDB_MISSING 299

#define IDD_PANE_AND_BUTTON 301
#define IDD_PANE_ALONE 302
#define IDC_PANE 1001
#define IDC_BUTTON 1002
#define IDC_LABEL 1003
