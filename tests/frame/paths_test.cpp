#include <gtest/gtest.h>

#include <string>

#include "frame/frame.h"

namespace {

struct JoinCase {
  const char *dir, *name, *expected;
};

TEST(JoinPath, AddsOneSlashUnlessTheDirectoryEndsInASeparator) {
  const JoinCase cases[] = {
      {"out", "a.wav", "out/a.wav"},
      {"out/", "a.wav", "out/a.wav"},
      {"out\\", "a.wav", "out\\a.wav"},
      {"C:\\music", "a.wav", "C:\\music/a.wav"},
      {"", "a.wav", "/a.wav"},
  };
  for (const JoinCase &c : cases) {
    char buf[64];
    join_path(buf, sizeof buf, c.dir, c.name);
    EXPECT_STREQ(buf, c.expected) << "dir '" << c.dir << "'";
  }
}

TEST(JoinPath, CutsAtTheBufferSize) {
  char buf[8];
  join_path(buf, sizeof buf, "abcdef", "ghij");
  EXPECT_STREQ(buf, "abcdef/");
}

struct BaseCase {
  std::string path, expected;
};

TEST(BaseName, DropsDirectoryAndLastExtension) {
  const std::string long_name(600, 'x');
  std::string long_dotted = std::string(300, 'a') + "." + std::string(299, 'b');
  const BaseCase cases[] = {
      {"C:\\music\\song.mp3", "song"},
      {"dir/archive.tar.gz", "archive.tar"},
      {"a\\b/c.flac", "c"},
      {"a/b\\c.flac", "c"},
      {"dir/.hidden", ".hidden"},
      {"noext", "noext"},
      {"dir/", ""},
      {"song.flac", "song"},
      {long_name, std::string(511, 'x')},
      // 511 characters are kept, then the copy is cut at its last dot.
      {long_dotted + ".wav", std::string(300, 'a')},
  };
  for (const BaseCase &c : cases) {
    char buf[BASE_NAME_SIZE];
    base_name(c.path.c_str(), buf);
    EXPECT_EQ(std::string(buf), c.expected) << "path '" << c.path.substr(0, 40) << "'";
  }
}

}  // namespace
