#include <gtest/gtest.h>

#include "archive/le_bytes.h"
#include "archive/plan_steps.h"

namespace tessary {
namespace {

TEST(PlanSteps, ScheduleAndExecPlanShareOneLayout) {
  PlanSteps steps = {{0, 1}, {}, {7}};
  testing::LeBytes w;
  w.u32(3);
  w.u32(2);
  w.u32(0);
  w.u32(1);
  w.u32(0);
  w.u32(1);
  w.u32(7);
  Bytes expected = w.take();
  EXPECT_EQ(*encode_exec_plan(steps), expected);
  EXPECT_EQ(*encode_schedule(steps), expected);
}

TEST(PlanSteps, RoundTrip) {
  const PlanSteps cases[] = {
      {},
      {{}},
      {{0}},
      {{0, 1, 2, 3, 4, 5, 6, 7, 8, 9}, {}, {UINT32_MAX, 0}, {42}},
  };
  for (const PlanSteps& steps : cases) {
    auto plan = decode_exec_plan(*encode_exec_plan(steps));
    ASSERT_TRUE(plan.has_value()) << plan.error().describe();
    EXPECT_EQ(*plan, steps);
    auto schedule = decode_schedule(*encode_schedule(steps));
    ASSERT_TRUE(schedule.has_value());
    EXPECT_EQ(*schedule, steps);
  }
}

TEST(PlanSteps, DecodeRejectsShortSteps) {
  // Step count 2, one complete step: the second index count is missing.
  testing::LeBytes a;
  a.u32(2);
  a.u32(1);
  a.u32(5);
  EXPECT_EQ(decode_exec_plan(a.take()).error(), ArchiveError::truncated(16, 12));

  // An index count of 3 with two indices present.
  testing::LeBytes b;
  b.u32(1);
  b.u32(3);
  b.u32(1);
  b.u32(2);
  EXPECT_EQ(decode_schedule(b.take()).error(), ArchiveError::truncated(20, 16));

  // A huge index count in a small payload.
  testing::LeBytes c;
  c.u32(1);
  c.u32(UINT32_MAX);
  c.u32(9);
  EXPECT_EQ(decode_exec_plan(c.take()).error(), ArchiveError::truncated(16, 12));
}

}  // namespace
}  // namespace tessary
