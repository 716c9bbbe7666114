#include "base/system.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cerrno>
#include <fstream>

#include "temp_dir.h"

namespace lw {
namespace {

TEST(SystemTest, RuntimeFolderOwnerOnlyAndSocketPathsThatFit) {
  // Given a new folder, one already there, a file and a missing parent,
  // expect 0700, success, ENOTDIR and ENOENT; a socket path as long as the
  // address field is refused.
  testing::TempDir dir;
  const std::string run = dir / "run";
  ASSERT_EQ(MakeRuntimeFolder(run), 0);
  struct stat st {};
  ASSERT_EQ(::stat(run.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0700u);
  EXPECT_EQ(MakeRuntimeFolder(run), 0);
  std::ofstream(dir / "file") << "x";
  EXPECT_EQ(MakeRuntimeFolder(dir / "file"), ENOTDIR);
  EXPECT_EQ(MakeRuntimeFolder(dir / "missing/run"), ENOENT);

  sockaddr_un addr;
  socklen_t len = 0;
  ASSERT_TRUE(UnixSocketAddress("/run/lw/sim", &addr, &len));
  EXPECT_STREQ(addr.sun_path, "/run/lw/sim");
  EXPECT_FALSE(
      UnixSocketAddress(std::string(sizeof addr.sun_path, 'a'), &addr, &len));
}

}  // namespace
}  // namespace lw
