// A dialog that shows the window controls: the list with column tips, the
// list with hidden scroll bars, the bitmap static, the shaped bitmap button
// and a rich edit control. "controls_demo N" closes itself after N seconds.

#include <sundry/controls/VELABitmapBtn.h>
#include <sundry/controls/VELADialog.h>
#include <sundry/controls/VELAListCtrl.h>
#include <sundry/controls/VELAListCtrlHiddenSB.h>
#include <sundry/controls/VELAStatic.h>

#include <cstdlib>
#include <cstring>

#include "test_resources.h"

namespace {

DWORD CALLBACK StreamText(DWORD_PTR cookie, LPBYTE buffer, LONG size, LONG* done) {
  auto** rest = reinterpret_cast<const char**>(cookie);
  LONG n = static_cast<LONG>(std::strlen(*rest));
  if (n > size) n = size;
  std::memcpy(buffer, *rest, static_cast<size_t>(n));
  *rest += n;
  *done = n;
  return 0;
}

class CDemoDialog : public CVELADialog {
 public:
  explicit CDemoDialog(UINT closeAfterSeconds) : CVELADialog(IDD_DEMO), m_closeAfter(closeAfterSeconds) {}

  BOOL OnInitDialog() override {
    CVELADialog::OnInitDialog();
    setOKMode(1);
    setCancelMode(1);
    m_list.SubclassDlgItem(IDC_LIST, this);
    m_list.SetExtendedStyle(LVS_EX_FULLROWSELECT | LVS_EX_GRIDLINES);
    m_list.InsertColumn(0, "Name", LVCFMT_LEFT, 90);
    m_list.InsertColumn(1, "Port", LVCFMT_LEFT, 60);
    m_list.InsertColumn(2, "State", LVCFMT_LEFT, 80);
    const char* rows[][3] = {{"Modem", "COM1", "connected"}, {"Network", "eth0", "idle"}, {"Serial", "COM2", "off"}};
    for (int i = 0; i < 3; ++i) {
      m_list.InsertItem(i, rows[i][0]);
      m_list.SetItemText(i, 1, rows[i][1]);
      m_list.SetItemText(i, 2, rows[i][2]);
    }
    m_list.setToolTip("connections");
    int columns[] = {0, 2, -1};
    int modes[] = {1, 1};
    m_list.setTTSubItemOrder(columns, modes);

    m_hidden.SubclassDlgItem(IDC_HIDDEN_LIST, this);
    m_hidden.InsertColumn(0, "Hidden bars", LVCFMT_LEFT, 400);
    for (int i = 0; i < 20; ++i) m_hidden.InsertItem(i, "a row of the list without scroll bars");
    m_hidden.HideScrollBars(1, 3);

    m_picture.SubclassDlgItem(IDC_PICTURE, this);
    m_picture.loadBitmap(IDB_PICTURE_A);
    m_picture.setToolTip("a picture");

    m_button.SubclassDlgItem(IDC_SHAPED, this);
    m_button.LoadBitmaps(IDB_UP, IDB_DOWN, 0, 0, IDB_SHAPE, ::GetModuleHandleA(nullptr));

    m_rich.SubclassDlgItem(IDC_RICH, this);
    const char* rtf =
        "{\\rtf1\\ansi{\\fonttbl{\\f0 Arial;}}{\\colortbl;\\red200\\green0\\blue0;}"
        "\\f0\\fs20 A {\\b rich edit} control with {\\cf1 coloured} text.\\par Second line.}";
    const char* rest = rtf;
    EDITSTREAM stream{reinterpret_cast<DWORD_PTR>(&rest), 0, &StreamText};
    m_rich.StreamIn(SF_RTF, stream);
    m_rich.SetBackgroundColor(FALSE, RGB(255, 255, 230));

    if (m_closeAfter > 0) SetTimer(1, m_closeAfter * 1000);
    return TRUE;
  }

  afx_msg void OnTimer(UINT_PTR) { EndDialog(IDOK); }

 private:
  UINT m_closeAfter;
  CVELAListCtrl m_list;
  CVELAListCtrlHiddenSB m_hidden;
  CVELAStatic m_picture;
  CVELABitmapBtn m_button;
  CRichEditCtrl m_rich;

  DECLARE_MESSAGE_MAP()
};

BEGIN_MESSAGE_MAP(CDemoDialog, CVELADialog)
ON_WM_TIMER()
END_MESSAGE_MAP()

}  // namespace

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR commandLine, int) {
  INITCOMMONCONTROLSEX init{sizeof(INITCOMMONCONTROLSEX), ICC_LISTVIEW_CLASSES | ICC_BAR_CLASSES};
  ::InitCommonControlsEx(&init);
  CRichEditCtrl::ClassName();  // registers "RichEdit20A" before the template needs it
  CDemoDialog dialog(static_cast<UINT>(std::atoi(commandLine)));
  return dialog.DoModal() == IDOK ? 0 : 1;
}
