#include "base/system.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cerrno>
#include <fstream>
#include <string>

#include "base/text.h"
#include "temp_dir.h"

namespace lw {
namespace {

TEST(RuntimeFolderTest, MadeOwnerOnlyOnceAndRefusedWhereItCannotBe) {
  testing::TempDir dir;
  const std::string run = dir / "run";
  ASSERT_EQ(MakeRuntimeFolder(run), 0);
  struct stat st {};
  ASSERT_EQ(::stat(run.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0700u);
  EXPECT_EQ(MakeRuntimeFolder(run), 0);  // already there

  std::ofstream(dir / "file") << "x";
  EXPECT_EQ(MakeRuntimeFolder(dir / "file"), ENOTDIR);
  // Only the last component is made.
  EXPECT_EQ(MakeRuntimeFolder(dir / "missing/run"), ENOENT);
  EXPECT_FALSE(ErrnoText(ENOENT).empty());
}

TEST(SocketAddressTest, PathMustFitTheAddress) {
  sockaddr_un addr;
  socklen_t len = 0;
  ASSERT_TRUE(UnixSocketAddress("/run/lw/sim", &addr, &len));
  EXPECT_STREQ(addr.sun_path, "/run/lw/sim");
  EXPECT_EQ(addr.sun_family, AF_UNIX);
  EXPECT_FALSE(
      UnixSocketAddress(std::string(sizeof addr.sun_path, 'a'), &addr, &len));
}

TEST(TrimTest, CutsOnlyTheGivenBlanksAtBothEnds) {
  EXPECT_EQ(Trim(" \t a b \t"), "a b");
  EXPECT_EQ(Trim("\tx ", " "), "\tx");
  EXPECT_EQ(Trim(std::string_view(" 1\0", 3), std::string_view(" \0", 2)), "1");
  EXPECT_EQ(Trim("   "), "");
  EXPECT_EQ(Trim(U" \tä "), U"ä");
}

}  // namespace
}  // namespace lw
