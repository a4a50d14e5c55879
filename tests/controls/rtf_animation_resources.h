// Resource ids of the RTF and animated-static tests (also read by windres).
#pragma once

#define IDS_RTF_SHORT 1701
#define IDS_RTF_LONG 1702
#define IDS_RTF_REPLACEMENT 1703

#define IDB_ANIM_FRAME0 1721
#define IDB_ANIM_FRAME1 1722
#define IDB_ANIM_FRAME2 1723
#define IDB_ANIM_MISSING 1729

#define IDD_RTF_PANE_AND_BUTTON 1741
#define IDD_RTF_PANE_ALONE 1742
#define IDC_RTF_PANE 1751
#define IDC_RTF_BUTTON 1752
#define IDC_RTF_LABEL 1753
#define IDD_RTF_BETWEEN_BUTTONS 1743
#define IDC_RTF_BEFORE 1754
