#include <sundry/controls/AnimationCore.h>

namespace sundry::controls {

AnimationSlots::AnimationSlots(int capacity, Release release, void* context) noexcept
    : m_capacity(capacity >= 1 && capacity <= kMaxSlots ? capacity : kMaxSlots),
      m_release(release),
      m_context(context) {}

AnimationSlots::~AnimationSlots() { Clear(); }

int AnimationSlots::SlotFor(int index) const noexcept {
  if (index >= m_capacity) return -1;
  if (index >= 0) return index;
  return m_highest + 1 < m_capacity ? m_highest + 1 : -1;
}

AnimationSlots::Handle AnimationSlots::At(int slot) const noexcept {
  return slot >= 0 && slot < m_capacity ? m_slots[slot] : nullptr;
}

bool AnimationSlots::HasAny() const noexcept {
  for (int i = 0; i <= m_highest; ++i)
    if (m_slots[i]) return true;
  return false;
}

void AnimationSlots::Put(int slot, Handle handle) noexcept {
  if (m_slots[slot] && m_slots[slot] != handle && m_release) m_release(m_context, m_slots[slot]);
  m_slots[slot] = handle;
  if (slot > m_highest) m_highest = slot;
}

void AnimationSlots::Clear() noexcept {
  for (int i = 0; i < m_capacity; ++i) ClearSlot(i);
  m_highest = -1;
}

void AnimationSlots::ClearSlot(int slot) noexcept {
  if (slot < 0 || slot >= m_capacity || !m_slots[slot]) return;
  Handle handle = m_slots[slot];
  m_slots[slot] = nullptr;
  if (m_release) m_release(m_context, handle);
}

int AnimationFrames::Step(const AnimationSlots& slots) noexcept {
  const int highest = slots.Highest();
  if (highest < 0) return -1;
  if (m_next > highest) m_next = 0;
  const int frame = m_next;
  m_next = frame == highest ? 0 : frame + 1;
  return frame;
}

}  // namespace sundry::controls
