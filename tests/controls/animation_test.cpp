// The animated static's picture tables and frame stepping.
#include <gtest/gtest.h>
#include <sundry/controls/AnimationCore.h>

#include <vector>

using sundry::controls::AnimationFrames;
using sundry::controls::AnimationSlots;

namespace {

// Pictures are the addresses of these cells; a release is recorded.
int g_cells[64];
std::vector<int> g_released;
void release(void*, void* handle) { g_released.push_back(static_cast<int>(static_cast<int*>(handle) - g_cells)); }
void* cell(int i) { return &g_cells[i]; }

struct AnimationSlotsTest : ::testing::Test {
  void SetUp() override { g_released.clear(); }
  int loads = 0;
  auto loader(int i) {
    return [this, i]() -> void* {
      ++loads;
      return i < 0 ? nullptr : cell(i);
    };
  }
};

}  // namespace

TEST_F(AnimationSlotsTest, AppendsFillTheTableAndTheNextIsRefused) {
  for (int capacity : {16, 8}) {
    const size_t releasedBefore = g_released.size();
    AnimationSlots slots(capacity, release);
    EXPECT_EQ(-1, slots.Highest());
    EXPECT_FALSE(slots.HasAny());
    for (int i = 0; i < capacity; ++i) EXPECT_EQ(i, slots.Set(-1, loader(i))) << capacity;
    loads = 0;
    EXPECT_EQ(-1, slots.Set(-1, loader(40)));
    EXPECT_EQ(-1, slots.Set(capacity, loader(41)));
    EXPECT_EQ(0, loads);  // a refused index loads nothing
    EXPECT_EQ(capacity - 1, slots.Highest());
    EXPECT_EQ(cell(capacity - 1), slots.At(capacity - 1));
    EXPECT_EQ(nullptr, slots.At(capacity));
    EXPECT_EQ(releasedBefore, g_released.size());
  }
  // Each table released its own pictures at its end, each once.
  EXPECT_EQ(24u, g_released.size());
}

TEST_F(AnimationSlotsTest, AnIndexRaisesTheHighestSlotAndReplacesItsPicture) {
  AnimationSlots slots(16, release);
  EXPECT_EQ(5, slots.Set(5, loader(1)));
  EXPECT_EQ(5, slots.Highest());
  EXPECT_EQ(nullptr, slots.At(0));
  EXPECT_TRUE(slots.HasAny());
  EXPECT_EQ(6, slots.Set(-1, loader(2)));
  EXPECT_EQ(2, slots.Set(2, loader(3)));
  EXPECT_EQ(6, slots.Highest());
  EXPECT_EQ(5, slots.Set(5, loader(4)));
  EXPECT_EQ(std::vector<int>{1}, g_released);
  EXPECT_EQ(cell(4), slots.At(5));
}

TEST_F(AnimationSlotsTest, AFailedLoadLeavesTheTableAsItWas) {
  AnimationSlots slots(8, release);
  EXPECT_EQ(-1, slots.Set(-1, loader(-1)));
  EXPECT_EQ(-1, slots.Highest());
  EXPECT_FALSE(slots.HasAny());
  EXPECT_EQ(-1, slots.Set(3, loader(-1)));
  EXPECT_EQ(-1, slots.Highest());

  EXPECT_EQ(0, slots.Set(0, loader(7)));
  EXPECT_EQ(-1, slots.Set(6, loader(-1)));
  EXPECT_EQ(-1, slots.Set(-1, loader(-1)));
  EXPECT_EQ(-1, slots.Set(0, loader(-1)));
  EXPECT_EQ(0, slots.Highest());
  EXPECT_EQ(cell(7), slots.At(0));  // the old picture is kept, not freed
  EXPECT_TRUE(g_released.empty());
}

TEST_F(AnimationSlotsTest, ClearReleasesEveryPictureOnce) {
  {
    AnimationSlots slots(16, release);
    slots.Set(0, loader(10));
    slots.Set(9, loader(11));
    slots.Set(15, loader(12));
    slots.ClearSlot(9);
    slots.ClearSlot(8);
    slots.ClearSlot(-1);
    EXPECT_EQ(std::vector<int>{11}, g_released);
    EXPECT_EQ(15, slots.Highest());
    slots.Clear();
    EXPECT_EQ((std::vector<int>{11, 10, 12}), g_released);
    EXPECT_EQ(-1, slots.Highest());
    EXPECT_EQ(nullptr, slots.At(9));
    EXPECT_EQ(0, slots.Set(-1, loader(13)));
  }
  EXPECT_EQ((std::vector<int>{11, 10, 12, 13}), g_released);
}

TEST(AnimationFrames, StepsThroughEverySlotUpToTheHighestAndRound) {
  g_released.clear();
  AnimationSlots slots(16, release);
  AnimationFrames frames;
  EXPECT_EQ(-1, frames.Step(slots));
  slots.Set(0, [] { return cell(0); });
  slots.Set(3, [] { return cell(3); });  // slots 1 and 2 stay empty but take their turn
  std::vector<int> seen;
  for (int i = 0; i < 9; ++i) seen.push_back(frames.Step(slots));
  EXPECT_EQ((std::vector<int>{0, 1, 2, 3, 0, 1, 2, 3, 0}), seen);
  frames.Restart();
  EXPECT_EQ(0, frames.Step(slots));
  EXPECT_EQ(1, frames.Step(slots));
  EXPECT_EQ(2, frames.Step(slots));
  // A table cut down below the next frame starts again at 0.
  slots.Clear();
  slots.Set(-1, [] { return cell(5); });
  EXPECT_EQ(0, frames.Step(slots));
  EXPECT_EQ(0, frames.Step(slots));
}
