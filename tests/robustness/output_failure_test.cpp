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
#include <string>
#include <vector>

#include "audio/audio.h"
#include "ombrelt.h"
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

struct FullDeviceCase {
  const char *input;
  const char *stems_json;
  const char *stem;  // the output name that leads to the full device
};

TEST_F(OutputFailure, FullDeviceBehindAnOutputNameFailsWhateverTheFileSize) {
  const FullDeviceCase cases[] = {
      // 0.1 s: the whole file fits in the writer's buffer, so nothing fails
      // before the file is closed.
      {"stereo_4410.wav", "[\"vocals\"]", "vocals"},
      // The last of five files.
      {"stereo_4410.wav", nullptr, "instrumental"},
      // 2 s: the buffer overflows, and a write in the middle of the file fails.
      {"stereo_44k_2s.wav", "[\"vocals\"]", "vocals"},
  };
  for (const FullDeviceCase &c : cases) {
    SCOPED_TRACE(std::string(c.input) + " " + c.stem);
    const std::string out = tmp_ / (std::string(c.input) + "-" + c.stem);
    fs::create_directory(out);
    std::string base = c.input;
    base = base.substr(0, base.rfind('.'));
    fs::create_symlink("/dev/full", out + "/" + base + "_" + c.stem + ".wav");
    const char *json = "untouched";
    EXPECT_EQ(ombrelt_separate(media(c.input).c_str(), out.c_str(), c.stems_json, &json), -1);
    EXPECT_STREQ(ombrelt_last_error(), WRITE_FAILED);
    EXPECT_STREQ(json, "untouched");
  }
}

TEST_F(OutputFailure, MuteOntoAFullDeviceFailsAndMovesNothing) {
  const std::string out = tmp_ / "song.wav";
  fs::create_symlink("/dev/full", tmp_ / "song_instrumental.wav");
  const char *json = "untouched";
  EXPECT_EQ(ombrelt_mute(media("stereo_4410.wav").c_str(), out.c_str(), "vocal", &json), -1);
  EXPECT_STREQ(ombrelt_last_error(), WRITE_FAILED);
  EXPECT_STREQ(json, "untouched");
  EXPECT_FALSE(file_exists(out));
}

TEST_F(OutputFailure, DiskFillingUpAtTheLastFlushFails) {
  const std::string disk = tmp_ / "disk";
  fs::create_directory(disk);
  // Room for the writer's first flush (256 KiB) of a 2 s stem (353 KB), not
  // for the rest, which goes out when the file is completed.
  ScratchMount mount(disk, "size=300k");
  if (!mount.mounted()) GTEST_SKIP() << mount.why();
  const char *json = "untouched";
  EXPECT_EQ(ombrelt_separate(media("stereo_44k_2s.wav").c_str(), disk.c_str(), "[\"vocals\"]",
                             &json),
            -1);
  EXPECT_STREQ(ombrelt_last_error(), WRITE_FAILED);
  EXPECT_STREQ(json, "untouched");
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
}

// The writer itself: data still in its buffer when the file is completed
// must reach the disk, or the completion says so.
TEST(WavFinish, ReportsDataThatNeverReachedTheDisk) {
  std::vector<float> block(2 * 4410, 0.25f);
  WavOut w;
  ASSERT_EQ(wav_open(&w, "/dev/full"), 0) << ombrelt_last_error();
  EXPECT_EQ(wav_write(&w, block.data(), 4410), 0);  // still buffered
  EXPECT_EQ(wav_finish(&w), -1);
  EXPECT_STREQ(ombrelt_last_error(), WRITE_FAILED);
  EXPECT_EQ(w.fmt, nullptr);
  EXPECT_EQ(w.st, nullptr);
  EXPECT_EQ(w.enc, nullptr);
  wav_close(&w);  // closed already: nothing to do
}

TEST(WavFinish, CompletesAFileThatWasWritten) {
  TempDir tmp;
  const std::string path = tmp / "a.wav";
  std::vector<float> block(2 * 4410, 0.5f);
  WavOut w;
  ASSERT_EQ(wav_open(&w, path.c_str()), 0) << ombrelt_last_error();
  ASSERT_EQ(wav_write(&w, block.data(), 4410), 0);
  EXPECT_EQ(wav_finish(&w), 0) << ombrelt_last_error();
  EXPECT_EQ(w.fmt, nullptr);
  EXPECT_EQ(wav_finish(&w), 0);  // closed already: nothing to report
  testing_support::Wav16 wav = read_wav16(path);
  ASSERT_EQ(wav.samples.size(), 2u * 4410);
  EXPECT_EQ(wav.samples[0], 16384);
}

}  // namespace
