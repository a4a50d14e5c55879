#pragma once
// The window-free part of the animated static: its tables of picture slots
// and the stepping through the frames.
//
// AnimationSlots is a table of up to kMaxSlots picture handles (16 frames
// or 8 rest states) that owns its handles: it frees a handle it replaces or
// clears and, at the end, every handle left, with the release function (and
// its context) it was made with. Its highest slot is the highest index ever filled (-1 while
// none was); slots below it may be empty.
//
// Filling a slot (Set):
//  - an index at or beyond the capacity is refused (-1);
//  - an index of 0 or more names the slot; a negative index appends after
//    the highest slot, refused (-1) when that is the last one;
//  - the picture is loaded first: when the load fails (a null handle) the
//    table is left exactly as it was (the old picture stays, the highest
//    slot keeps its value) and the result is -1;
//  - when it succeeds, the slot's old picture is released, the new one put
//    in its place, the highest slot raised to the slot, and the slot is
//    returned.
//
// AnimationFrames steps through the frames 0 .. highest slot and round
// again; an empty slot takes its turn like the others (it shows nothing new).

#include <sundry/export.h>

namespace sundry::controls {

class SUNDRY_EXPORT AnimationSlots {
 public:
  using Handle = void*;
  using Release = void (*)(void* context, Handle);
  static constexpr int kMaxSlots = 16;

  // A capacity outside 1..kMaxSlots is taken as kMaxSlots.
  AnimationSlots(int capacity, Release release, void* context = nullptr) noexcept;
  ~AnimationSlots();
  AnimationSlots(const AnimationSlots&) = delete;
  AnimationSlots& operator=(const AnimationSlots&) = delete;

  // The slot a Set with this index would fill, or -1 if it is refused.
  int SlotFor(int index) const noexcept;

  // Fills a slot as described at the top of this file. `load` returns the
  // new handle, or null when the picture cannot be loaded; it is not called
  // when the index is refused.
  template <class Load>
  int Set(int index, Load&& load) {
    const int slot = SlotFor(index);
    if (slot < 0) return -1;
    const Handle handle = load();
    if (!handle) return -1;
    Put(slot, handle);
    return slot;
  }

  // The handle in a slot; null for an empty slot or an index outside the
  // table.
  Handle At(int slot) const noexcept;
  int Highest() const noexcept { return m_highest; }
  int Capacity() const noexcept { return m_capacity; }
  // Whether any slot from 0 to the highest holds a picture.
  bool HasAny() const noexcept;
  // Releases every picture and empties the table (highest slot -1).
  void Clear() noexcept;
  // Releases the picture of one slot; the highest slot stays.
  void ClearSlot(int slot) noexcept;

 private:
  void Put(int slot, Handle handle) noexcept;

  Handle m_slots[kMaxSlots] = {};
  int m_capacity;
  int m_highest = -1;
  Release m_release;
  void* m_context;
};

class SUNDRY_EXPORT AnimationFrames {
 public:
  // The next step starts again at frame 0.
  void Restart() noexcept { m_next = 0; }
  // The frame due now, then moves on (after the highest slot back to 0).
  // -1 when the table has no highest slot.
  int Step(const AnimationSlots& slots) noexcept;
  int Next() const noexcept { return m_next; }

 private:
  int m_next = 0;
};

}  // namespace sundry::controls
