#pragma once
// CVELAListCtrl: a list view whose tooltip shows chosen columns of the row
// under the mouse. Windows build only.

#include <sundry/platform/AfxCtrl.h>
#include <sundry/controls/core/ListTipText.h>

class SUNDRY_EXPORT CVELAListCtrl : public CListCtrl {
 public:
  CVELAListCtrl();
  ~CVELAListCtrl() override;

  // Keeps the text (at most 511 characters) and gives the list a tooltip
  // with one tool over its client area showing it (CSundry::CreateTooltip);
  // a tooltip made by an earlier call is destroyed. Call it once the list
  // window exists.
  void setToolTip(const char* text);
  char* getToolTip() { return m_szToolTip; }
  HWND getToolTipWindow() const { return m_hToolTip; }

  // The columns (sub-item indexes, ended by -1, at most 10) the tip shows
  // and their separator modes (1: a line break after the column, else a
  // blank between columns); see sundry::controls::CopyTipColumnOrder.
  void setTTSubItemOrder(int* columns, int* modes);

 private:
  // Fills the tip with the row's chosen columns and hands it to the tool.
  void buildToolTip(int row);
  // Hands the current tip text to the tool.
  void updateToolText();
  // A new row under the mouse rebuilds the tip; off the rows it is emptied.
  // The move is not passed on to the list.
  afx_msg void OnMouseMove(UINT flags, CPoint point);

  HWND m_hToolTip = nullptr;
  TOOLINFOA m_toolInfo;
  char m_szPrevText[sundry::controls::kTipTextSize];
  char m_szToolTip[sundry::controls::kTipTextSize];
  int m_iOrder[sundry::controls::kTipColumnCount];
  int m_iModes[sundry::controls::kTipColumnCount];
  // The row last seen under the mouse by this list (-1: none yet).
  int m_iLastRow = -1;

  DECLARE_MESSAGE_MAP()
};
