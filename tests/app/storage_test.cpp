#include "platform/storage.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cstdlib>
#include <string>
#include <thread>
#include <vector>

#include "tests/common/test_folder.h"

namespace pelmora::platform {
namespace {

using pelmora::testing::Names;
using pelmora::testing::ReadAll;
using pelmora::testing::TestFolder;
using pelmora::testing::WriteAll;

TEST(CreateFoldersTest, MakesParentsAndRefusesAFileInTheWay) {
  TestFolder folder;
  const auto nested = folder.path() / "a" / "b" / "c";
  std::string error;
  EXPECT_TRUE(CreateFolders(nested, &error)) << error;
  EXPECT_TRUE(std::filesystem::is_directory(nested));
  EXPECT_TRUE(CreateFolders(nested, &error)) << "an existing folder is fine";

  WriteAll(folder.path() / "file", "x");
  EXPECT_FALSE(CreateFolders(folder.path() / "file" / "sub", &error));
  EXPECT_FALSE(error.empty());
  EXPECT_FALSE(CreateFolders(folder.path() / "file", &error));
}

TEST(SaveNewFileTest, NeverReplacesAndTakesTheNextFreeName) {
  TestFolder folder;
  WriteAll(folder.path() / "142.jpg", "old");
  WriteAll(folder.path() / "142-2.jpg", "older");

  std::string error;
  const auto saved = SaveNewFile(folder.path(), "142", ".jpg", "new", &error);
  EXPECT_EQ(saved, folder.path() / "142-3.jpg") << error;
  EXPECT_EQ(ReadAll(saved), "new");
  EXPECT_EQ(ReadAll(folder.path() / "142.jpg"), "old");
  EXPECT_EQ(ReadAll(folder.path() / "142-2.jpg"), "older");

  const auto fresh = SaveNewFile(folder.path(), "242", ".jpg", std::string(3, '\0'), &error);
  EXPECT_EQ(fresh, folder.path() / "242.jpg");
  EXPECT_EQ(ReadAll(fresh), std::string(3, '\0'));
  EXPECT_EQ(Names(folder.path()),
            (std::vector<std::string>{"142-2.jpg", "142-3.jpg", "142.jpg", "242.jpg"}))
      << "no temporary file is left";
}

TEST(SaveNewFileTest, ManyWritersOfOneNameEachGetTheirOwnFile) {
  TestFolder folder;
  constexpr int kWriters = 16;
  std::vector<std::filesystem::path> saved(kWriters);
  {
    std::vector<std::jthread> writers;
    writers.reserve(kWriters);
    for (int i = 0; i < kWriters; ++i) {
      writers.emplace_back(
          [&, i] { saved[i] = SaveNewFile(folder.path(), "1", ".jpg", std::to_string(i)); });
    }
  }
  EXPECT_EQ(Names(folder.path()).size(), static_cast<std::size_t>(kWriters));
  for (int i = 0; i < kWriters; ++i) {
    EXPECT_EQ(ReadAll(saved[i]), std::to_string(i));
  }
}

TEST(SaveNewFileTest, AMissingFolderFailsWithoutAFile) {
  TestFolder folder;
  std::string error;
  EXPECT_TRUE(SaveNewFile(folder.path() / "missing", "1", ".jpg", "x", &error).empty());
  EXPECT_FALSE(error.empty());
  EXPECT_TRUE(Names(folder.path()).empty());
}

TEST(WritePrivateFileTest, ReplacesWholeWithModeSixHundred) {
  TestFolder folder;
  const auto path = folder.path() / "CK.TXT";
  WriteAll(path, "a much longer old cookie");
  ::chmod(path.c_str(), 0644);
  const std::string cookie = "a=1; b=\xd6\xd0\r\nline two";
  std::string error;
  ASSERT_TRUE(WritePrivateFile(path, cookie, &error)) << error;
  EXPECT_EQ(ReadAll(path), cookie);
  struct stat info {};
  ASSERT_EQ(::stat(path.c_str(), &info), 0);
  EXPECT_EQ(info.st_mode & 0777, 0600u);
  EXPECT_EQ(Names(folder.path()), std::vector<std::string>{"CK.TXT"});

  EXPECT_FALSE(WritePrivateFile(folder.path() / "missing" / "CK.TXT", "x", &error));
  EXPECT_FALSE(error.empty());
}

TEST(PlacesTest, ConfigFolderFollowsXdgThenHome) {
  const char* oldXdg = std::getenv("XDG_CONFIG_HOME");
  const std::string savedXdg = oldXdg != nullptr ? oldXdg : "";
  const char* oldHome = std::getenv("HOME");
  const std::string savedHome = oldHome != nullptr ? oldHome : "";

  ::setenv("XDG_CONFIG_HOME", "/x/config", 1);
  ::setenv("HOME", "/h", 1);
  EXPECT_EQ(ConfigFolder(), std::filesystem::path("/x/config/pelmora"));
  ::setenv("XDG_CONFIG_HOME", "relative", 1);
  EXPECT_EQ(ConfigFolder(), std::filesystem::path("/h/.config/pelmora"));
  ::unsetenv("XDG_CONFIG_HOME");
  EXPECT_EQ(ConfigFolder(), std::filesystem::path("/h/.config/pelmora"));
  EXPECT_EQ(HomeFolder(), std::filesystem::path("/h"));

  if (oldXdg != nullptr) {
    ::setenv("XDG_CONFIG_HOME", savedXdg.c_str(), 1);
  }
  if (oldHome != nullptr) {
    ::setenv("HOME", savedHome.c_str(), 1);
  } else {
    ::unsetenv("HOME");
  }
}

TEST(PlacesTest, WritableFolder) {
  TestFolder folder;
  EXPECT_TRUE(IsFolderWritable(folder.path()));
  EXPECT_FALSE(IsFolderWritable(folder.path() / "missing"));
  WriteAll(folder.path() / "file", "x");
  EXPECT_FALSE(IsFolderWritable(folder.path() / "file"));
}

}  // namespace
}  // namespace pelmora::platform
