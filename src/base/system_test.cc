#include "base/system.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <fstream>

#include "temp_dir.h"

namespace lw {
namespace {

TEST(SystemTest, RuntimeFolderAndSocketPathsRefusedWhereTheyCannotBe) {
  // Given a file in the folder's place or a missing parent, expect ENOTDIR
  // and ENOENT (only the last component is made); a socket path as long as
  // the address field is refused.
  testing::TempDir dir;
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
