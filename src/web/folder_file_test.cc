#include "web/folder_file.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include "temp_dir.h"

namespace lw {
namespace {

TEST(FolderFileTest, NoLinkLeadsOutAndTheStoreIsNeverOpened) {
  // Given a file below the folder, links to files and folders outside it,
  // ".." and a hard link to the store, expect only the file opened, by
  // either lookup.
  testing::TempDir dir;
  const std::string root = dir / "WWW";
  testing::WriteFile(root + "/a/page.html", "page");
  testing::WriteFile(dir / "registry.db", "store");
  testing::WriteFile(dir / "outside.gif", "outside");
  std::filesystem::create_symlink(dir / "outside.gif", root + "/a/link.gif");
  std::filesystem::create_symlink(root + "/a", root + "/b");
  std::filesystem::create_hard_link(dir / "registry.db", root + "/hard.gif");
  const StoreFiles store(dir / "registry.db");
  for (const Lookup lookup : {Lookup::kBeneath, Lookup::kByComponent}) {
    const int fd = OpenInFolder(root, "a/page.html", nullptr, lookup);
    char text[8] = {};
    EXPECT_EQ(read(fd, text, sizeof text), 4);
    close(fd);
    for (const char* refused :
         {"a/link.gif", "b/page.html", "a/../../registry.db", "../registry.db",
          "hard.gif", "a", "missing"})
      EXPECT_EQ(OpenInFolder(root, refused, &store, lookup), -1) << refused;
  }
}

}  // namespace
}  // namespace lw
