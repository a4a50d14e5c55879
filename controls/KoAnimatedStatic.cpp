#include <sundry/controls/KoAnimatedStatic.h>
#include "controls/TooltipAnswer.h"

#include <atomic>

int CKoAnimatedStatic::g_eventID = 0;

BEGIN_MESSAGE_MAP(CKoAnimatedStatic, CStatic)
  ON_WM_TIMER()
END_MESSAGE_MAP()

CKoAnimatedStatic::CKoAnimatedStatic()
    : m_restStates(kRestStateSlots, &CKoAnimatedStatic::releaseBitmap, this),
      m_frames(kAnimationSlots, &CKoAnimatedStatic::releaseBitmap, this) {
  std::atomic_ref<int>(g_eventID).fetch_add(1, std::memory_order_relaxed);
}

CKoAnimatedStatic::~CKoAnimatedStatic() {
  animateStop();
  // The window (if it still exists) stops showing each bitmap before it is
  // deleted.
  m_frames.Clear();
  m_restStates.Clear();
}

void CKoAnimatedStatic::releaseBitmap(void* control, void* bitmap) {
  auto* self = static_cast<CKoAnimatedStatic*>(control);
  if (self->m_hWnd && ::IsWindow(self->m_hWnd) && self->GetBitmap() == static_cast<HBITMAP>(bitmap))
    self->SetBitmap(nullptr);
  ::DeleteObject(static_cast<HGDIOBJ>(bitmap));
}

int CKoAnimatedStatic::setBitmap(sundry::controls::AnimationSlots& table, unsigned int bitmapId, int index,
                                 HINSTANCE instance) {
  return table.Set(index, [&]() -> void* { return ::LoadBitmapA(instance, MAKEINTRESOURCEA(bitmapId)); });
}

int CKoAnimatedStatic::setAnimationBitmap(unsigned int bitmapId, int index, HINSTANCE instance) {
  return setBitmap(m_frames, bitmapId, index, instance);
}

int CKoAnimatedStatic::setRestStateBitmap(unsigned int bitmapId, int index, HINSTANCE instance) {
  return setBitmap(m_restStates, bitmapId, index, instance);
}

void CKoAnimatedStatic::clearAnimationBitmap(int index) {
  if (index == -1) {
    animateStop();
    m_frames.Clear();
  } else {
    m_frames.ClearSlot(index);
  }
}

void CKoAnimatedStatic::clearRestStateBitmap(int index) {
  if (index == -1)
    m_restStates.Clear();
  else
    m_restStates.ClearSlot(index);
}

void CKoAnimatedStatic::setCycleRate(int milliseconds) {
  if (milliseconds <= 0) return;
  m_nCycleRate = static_cast<UINT>(milliseconds);
  if (m_bAnimating) SetTimer(kAnimationTimer, m_nCycleRate);
}

BOOL CKoAnimatedStatic::animateStart() {
  if (!m_frames.HasAny()) {
    animateStop();
    m_bNothingToShow = 1;
    return FALSE;
  }
  m_bNothingToShow = 0;
  m_cursor.Restart();
  // The same timer id again replaces the running timer: one animation.
  if (!m_hWnd || SetTimer(kAnimationTimer, m_nCycleRate) == 0) {
    m_bAnimating = FALSE;
    return FALSE;
  }
  m_bAnimating = TRUE;
  return TRUE;
}

void CKoAnimatedStatic::animateStop() {
  if (!m_bAnimating) return;
  m_bAnimating = FALSE;
  // A tick already queued is ignored by OnTimer now that the flag is clear.
  if (m_hWnd) KillTimer(kAnimationTimer);
}

void CKoAnimatedStatic::OnTimer(UINT_PTR nIDEvent) {
  if (nIDEvent != kAnimationTimer) {
    Default();
    return;
  }
  if (!m_bAnimating) return;
  const int frame = m_cursor.Step(m_frames);
  if (HBITMAP bitmap = static_cast<HBITMAP>(m_frames.At(frame))) SetBitmap(bitmap);
}

void CKoAnimatedStatic::showRestStateBitmap(int index) {
  animateStop();
  auto bitmap = static_cast<HBITMAP>(index <= m_restStates.Highest() ? m_restStates.At(index) : nullptr);
  if (!bitmap) {
    m_bNothingToShow = 1;
    return;
  }
  SetBitmap(bitmap);
  m_bNothingToShow = 0;
}

int CKoAnimatedStatic::ShowWindow(int command) {
  if (m_bNothingToShow && command == SW_SHOW) command = SW_HIDE;
  return CStatic::ShowWindow(command);
}

LRESULT CKoAnimatedStatic::WindowProc(UINT message, WPARAM wParam, LPARAM lParam) {
  if (message == WM_NOTIFY && sundry::controls::AnswerTooltipRequest(lParam, m_strToolTip)) return 0;
  return CStatic::WindowProc(message, wParam, lParam);
}
