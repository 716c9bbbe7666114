#include "service/main_entry.h"

#include <gtest/gtest.h>

namespace lw {
namespace {

TEST(DecideStartTest, ChkRunAsProcAndTheGcSwitch) {
  // given "0", expect a start only with exactly "-gc" and in process mode
  EXPECT_EQ(DecideStart("0", "-gc").start, true);
  EXPECT_EQ(DecideStart("0", "-gc").run_as_service, false);
  for (const char* cmd : {"", " -gc", "-GC", "-gc ", "-gc x"})
    EXPECT_FALSE(DecideStart("0", cmd).start) << '"' << cmd << '"';
  // missing or other values: process mode, no switch needed
  for (const char* v : {"", "2", "yes", " 1"}) {
    EXPECT_TRUE(DecideStart(v, "").start) << v;
    EXPECT_FALSE(DecideStart(v, "").run_as_service) << v;
  }
  EXPECT_TRUE(DecideStart("1", "").run_as_service);
  EXPECT_TRUE(DecideStart("1", "-gc").run_as_service);
}

}  // namespace
}  // namespace lw
