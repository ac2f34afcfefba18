// Output that cannot be written: a full device, a disk that fills up while
// the last bytes of a file are flushed, a read-only file system, a directory
// below a regular file. Each must end in -1 with the writer's message; no
// call may report success for a file that did not reach the disk.
#include <gtest/gtest.h>
#include <sched.h>
#include <sys/mount.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <set>
#include <string>
#include <vector>

#include "audio/audio.h"
#include "ombrelt.h"
#include "support/dir_watch.h"
#include "support/json_view.h"
#include "support/test_support.h"

namespace {

namespace fs = std::filesystem;
using testing_support::file_exists;
using testing_support::json_member;
using testing_support::media;
using testing_support::models;
using testing_support::read_wav16;
using testing_support::TempDir;

const char *const WRITE_FAILED = "wav write failed";

// A tmpfs mounted in a mount namespace of this test process alone, so that
// nothing outlives the process even when it dies. Mounting needs root (or
// the capability); without it the tests that need one are skipped.
class ScratchMount {
 public:
  ScratchMount(const std::string &dir, const char *options, unsigned long flags = 0) : dir_(dir) {
    if (unshare(CLONE_NEWNS) != 0) {
      why_ = std::string("unshare: ") + std::strerror(errno);
      return;
    }
    if (mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0 ||
        mount("tmpfs", dir.c_str(), "tmpfs", flags, options) != 0) {
      why_ = std::string("mount: ") + std::strerror(errno);
      return;
    }
    mounted_ = true;
  }
  ~ScratchMount() {
    if (mounted_) umount2(dir_.c_str(), MNT_DETACH);
  }
  ScratchMount(const ScratchMount &) = delete;
  ScratchMount &operator=(const ScratchMount &) = delete;
  bool mounted() const { return mounted_; }
  const std::string &why() const { return why_; }

 private:
  std::string dir_;
  std::string why_;
  bool mounted_ = false;
};

class OutputFailure : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_EQ(ombrelt_init(models("identity").c_str()), 0) << ombrelt_last_error();
  }
  void TearDown() override { ombrelt_cleanup(); }
  TempDir tmp_;
};

// Reads a whole file as text.
std::string contents(const std::string &path) {
  std::ifstream f(path);
  return std::string(std::istreambuf_iterator<char>(f), {});
}

struct FullDiskCase {
  const char *input;
  const char *stems_json;
  const char *disk_size;
  const char *older;  // a stem of the same name that was there before, or nullptr
};

TEST_F(OutputFailure, AFullDiskFailsWhateverTheFileSizeAndLeavesNothing) {
  const FullDiskCase cases[] = {
      // 0.1 s: every file fits in its writer's buffer, so nothing fails
      // before the files are completed.
      {"stereo_4410.wav", nullptr, "size=4k", nullptr},
      {"stereo_4410.wav", nullptr, "size=8k", "stereo_4410_bass.wav"},
      // 2 s: a buffer overflows, and a write in the middle of a file fails.
      {"stereo_44k_2s.wav", "[\"vocals\"]", "size=64k", "stereo_44k_2s_vocals.wav"},
      // Room for the writer's first flush (256 KiB) of a 2 s stem (353 KB),
      // not for the rest, which goes out when the file is completed.
      {"stereo_44k_2s.wav", "[\"vocals\"]", "size=300k", nullptr},
  };
  for (const FullDiskCase &c : cases) {
    SCOPED_TRACE(std::string(c.input) + " " + c.disk_size);
    const std::string disk = tmp_ / (std::string("disk-") + c.disk_size);
    fs::create_directory(disk);
    ScratchMount mount(disk, c.disk_size);
    if (!mount.mounted()) GTEST_SKIP() << mount.why();
    if (c.older) std::ofstream(disk + "/" + c.older) << "older";
    testing_support::DirWatch watch(disk);
    const char *json = "untouched";
    EXPECT_EQ(ombrelt_separate(media(c.input).c_str(), disk.c_str(), c.stems_json, &json), -1);
    EXPECT_STREQ(ombrelt_last_error(), WRITE_FAILED);
    EXPECT_STREQ(json, "untouched");
    // Only hidden temporaries ever appeared, none is left, and the older
    // stem is as it was.
    EXPECT_EQ(testing_support::finished_names(watch.appeared()), std::set<std::string>{});
    std::set<std::string> before;
    if (c.older) before.insert(c.older);
    EXPECT_EQ(testing_support::entries_of(disk), before);
    if (c.older) {
      EXPECT_EQ(contents(disk + "/" + c.older), "older");
    }
  }
}

TEST_F(OutputFailure, MuteOntoAFullDiskFailsAndMovesNothing) {
  const std::string disk = tmp_ / "disk";
  fs::create_directory(disk);
  ScratchMount mount(disk, "size=4k");
  if (!mount.mounted()) GTEST_SKIP() << mount.why();
  testing_support::DirWatch watch(disk);
  const char *json = "untouched";
  EXPECT_EQ(ombrelt_mute(media("stereo_4410.wav").c_str(), (disk + "/song.wav").c_str(), "vocal",
                         &json),
            -1);
  EXPECT_STREQ(ombrelt_last_error(), WRITE_FAILED);
  EXPECT_STREQ(json, "untouched");
  EXPECT_EQ(testing_support::finished_names(watch.appeared()), std::set<std::string>{});
  EXPECT_EQ(testing_support::entries_of(disk), std::set<std::string>{});
}

// A stem is written under a temporary name and renamed into place: a
// symbolic link at its final name is replaced, never written through.
TEST_F(OutputFailure, ALinkAtAStemNameIsReplacedNotWrittenThrough) {
  const std::string out = tmp_ / "out";
  fs::create_directory(out);
  std::ofstream(tmp_ / "target") << "not a stem";
  fs::create_symlink(tmp_ / "target", out + "/stereo_4410_vocals.wav");
  fs::create_symlink("/dev/full", out + "/stereo_4410_instrumental.wav");
  const char *json = nullptr;
  ASSERT_EQ(ombrelt_separate(media("stereo_4410.wav").c_str(), out.c_str(), nullptr, &json), 0)
      << ombrelt_last_error();
  EXPECT_EQ(contents(tmp_ / "target"), "not a stem");
  for (const char *stem : {"vocals", "instrumental"}) {
    const std::string path = out + "/stereo_4410_" + stem + ".wav";
    EXPECT_FALSE(fs::is_symlink(path)) << path;
    EXPECT_EQ(read_wav16(path).samples.size(), 2u * 4410) << path;
  }
}

TEST_F(OutputFailure, ReadOnlyFileSystemIsReportedWithThePath) {
  const std::string disk = tmp_ / "disk";
  fs::create_directory(disk);
  ScratchMount mount(disk, "size=1m", MS_RDONLY);
  if (!mount.mounted()) GTEST_SKIP() << mount.why();
  const std::string out = disk + "/out";
  const char *json = "untouched";
  EXPECT_EQ(ombrelt_separate(media("stereo_4410.wav").c_str(), out.c_str(), nullptr, &json), -1);
  EXPECT_EQ(std::string(ombrelt_last_error()),
            "cannot open " + out + "/stereo_4410_vocals.wav for writing");
  EXPECT_STREQ(json, "untouched");
  EXPECT_EQ(testing_support::entries_of(disk), std::set<std::string>{});
}

// Root ignores permission bits, but nobody can make a directory below a file.
TEST_F(OutputFailure, DirectoryBelowARegularFileIsReportedWithThePath) {
  std::ofstream(tmp_ / "file") << "a regular file\n";
  const std::string out = tmp_ / "file/out";
  const char *json = "untouched";
  EXPECT_EQ(ombrelt_separate(media("stereo_4410.wav").c_str(), out.c_str(), nullptr, &json), -1);
  EXPECT_EQ(std::string(ombrelt_last_error()),
            "cannot open " + out + "/stereo_4410_vocals.wav for writing");

  const std::string song = tmp_ / "file/song.wav";
  EXPECT_EQ(ombrelt_mute(media("stereo_4410.wav").c_str(), song.c_str(), "instrumental", &json),
            -1);
  EXPECT_EQ(std::string(ombrelt_last_error()),
            "cannot open " + tmp_ / "file/song_vocals.wav for writing");
  EXPECT_STREQ(json, "untouched");
  EXPECT_EQ(testing_support::entries_of(tmp_.path()), std::set<std::string>{"file"});
}

// The writer itself: data still in its buffer when the file is completed
// must reach the disk, or the completion says so.
TEST(AudioOutFinish, ReportsDataThatNeverReachedTheDisk) {
  std::vector<float> block(2 * 4410, 0.25f);
  AudioOut w;
  ASSERT_EQ(audio_out_open(&w, "/dev/full", AudioFormat::WAV16), 0) << ombrelt_last_error();
  EXPECT_EQ(audio_out_write(&w, block.data(), 4410), 0);  // still buffered
  EXPECT_EQ(audio_out_finish(&w), -1);
  EXPECT_STREQ(ombrelt_last_error(), WRITE_FAILED);
  EXPECT_EQ(w.fmt, nullptr);
  EXPECT_EQ(w.st, nullptr);
  EXPECT_EQ(w.enc, nullptr);
  audio_out_close(&w);  // closed already: nothing to do
}

TEST(AudioOutFinish, CompletesAFileThatWasWritten) {
  TempDir tmp;
  const std::string path = tmp / "a.wav";
  std::vector<float> block(2 * 4410, 0.5f);
  AudioOut w;
  ASSERT_EQ(audio_out_open(&w, path.c_str(), AudioFormat::WAV16), 0) << ombrelt_last_error();
  ASSERT_EQ(audio_out_write(&w, block.data(), 4410), 0);
  EXPECT_EQ(audio_out_finish(&w), 0) << ombrelt_last_error();
  EXPECT_EQ(w.fmt, nullptr);
  EXPECT_EQ(audio_out_finish(&w), 0);  // closed already: nothing to report
  testing_support::Wav16 wav = read_wav16(path);
  ASSERT_EQ(wav.samples.size(), 2u * 4410);
  EXPECT_EQ(wav.samples[0], 16384);
}

}  // namespace
