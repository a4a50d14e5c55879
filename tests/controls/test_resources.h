// Resource ids of the window controls' test program (also read by windres).
#pragma once

#define IDB_UP 101
#define IDB_DOWN 102
#define IDB_SHAPE 110
#define IDB_PICTURE_A 120
#define IDB_PICTURE_B 121
#define IDB_MISSING 199

#define IDD_MODES 200
#define IDD_LONE 201
#define IDD_DEMO 300

#define IDC_PLAIN 1001
#define IDC_NEXT 1002
#define IDC_LIST 1010
#define IDC_HIDDEN_LIST 1011
#define IDC_PICTURE 1012
#define IDC_SHAPED 1013
#define IDC_RICH 1014

#define IDS_LONG 400
