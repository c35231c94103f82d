// panelupctl's file writes: the new content beside the target first, never through a link left
// there, never into a folder where the file should be.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <unistd.h>
#include <vector>

#include "files.h"

namespace {

namespace fs = std::filesystem;

struct Folder {
  fs::path path;
  Folder() {
    char name[] = "/tmp/panelup-files-XXXXXX";
    path = mkdtemp(name);
  }
  ~Folder() { fs::remove_all(path); }
  Folder(const Folder &) = delete;
  Folder &operator=(const Folder &) = delete;
  std::string operator/(const char *name) const { return (path / name).string(); }
};

std::string Read(const std::string &path) {
  std::vector<uint8_t> bytes;
  std::string error;
  EXPECT_TRUE(ReadFile(path, &bytes, &error)) << error;
  return {bytes.begin(), bytes.end()};
}

TEST(Files, WrittenBesideTheTargetNeverThroughALink) {
  Folder d;
  std::string error;
  const std::vector<uint8_t> first = {'o', 'n', 'e'};
  ASSERT_TRUE(WriteFileSafely(d / "result.json", first, 0644, &error)) << error;
  EXPECT_EQ(Read(d / "result.json"), "one");
  EXPECT_FALSE(Exists(d / "result.json.new"));
  // A link at FILE.new (left by anyone who can write the folder) is never written through.
  ASSERT_TRUE(WriteFileSafely(d / "victim", first, 0644, &error));
  fs::create_symlink(d / "victim", d / "result.json.new");
  const std::vector<uint8_t> second = {'t', 'w', 'o'};
  EXPECT_TRUE(WriteFileSafely(d / "result.json", second, 0644, &error)) << error;
  EXPECT_EQ(Read(d / "victim"), "one");
  EXPECT_EQ(Read(d / "result.json"), "two");
  // A folder where the file should be is refused, and left as it is.
  fs::create_directory(d / "folder");
  EXPECT_FALSE(WriteFileSafely(d / "folder", second, 0644, &error));
  EXPECT_TRUE(IsFolder(d / "folder"));
  EXPECT_FALSE(Exists(d / "folder/folder.new"));
}

} // namespace
