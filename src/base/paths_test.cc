#include "base/paths.h"

#include <gtest/gtest.h>

#include <filesystem>

#include "temp_dir.h"

namespace lw {
namespace {

TEST(PathsTest, BackslashSubPathsBecomeNative) {
  EXPECT_EQ(NativePath("/home/lw", "\\Data\\Log\\2005\\03\\15\\"),
            "/home/lw/Data/Log/2005/03/15/");
  EXPECT_EQ(NativePath("/home/lw", "\\Beep.wav"), "/home/lw/Beep.wav");
}

TEST(PathsTest, NoCaseLookupFindsExistingComponents) {
  testing::TempDir dir;
  std::filesystem::create_directories(dir / "Data/Log");
  EXPECT_EQ(NativePathNoCase(dir.path(), "\\data\\LOG\\x.wav"),
            dir.path() + "/Data/Log/x.wav");
  EXPECT_EQ(NativePathNoCase(dir.path(), "\\Data\\Missing\\"),
            dir.path() + "/Data/Missing/");
}

}  // namespace
}  // namespace lw
