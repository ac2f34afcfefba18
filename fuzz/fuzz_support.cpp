#include "fuzz_support.h"

#include <sys/mman.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <string>

extern "C" {
#include <libavutil/log.h>
}

#include "ombrelt.h"

void quiet_media_library() { av_log_set_level(AV_LOG_QUIET); }

void init_with_test_models() {
  quiet_media_library();
  if (ombrelt_init(OMBRELT_FUZZ_MODELS) != 0) {
    std::fprintf(stderr, "ombrelt_init(%s): %s\n", OMBRELT_FUZZ_MODELS, ombrelt_last_error());
    std::abort();
  }
}

const char *bytes_as_file(const uint8_t *data, std::size_t size) {
  static int fd = -1;
  static char path[64];
  if (fd < 0) {
    fd = memfd_create("ombrelt-fuzz-input", MFD_CLOEXEC);
    if (fd < 0) {
      std::perror("memfd_create");
      std::abort();
    }
    std::snprintf(path, sizeof path, "/proc/self/fd/%d", fd);
  }
  if (ftruncate(fd, 0) != 0) std::abort();
  std::size_t done = 0;
  while (done < size) {
    ssize_t n = pwrite(fd, data + done, size - done, (off_t)done);
    if (n <= 0) std::abort();
    done += (std::size_t)n;
  }
  return path;
}

const char *bytes_as_text(const uint8_t *data, std::size_t size) {
  static std::string text;
  text.assign(reinterpret_cast<const char *>(data), size);
  return text.c_str();
}

void finding(const char *what, const char *detail) {
  std::fprintf(stderr, "\n*** %s: %s\n", what, detail ? detail : "(null)");
  std::abort();
}
