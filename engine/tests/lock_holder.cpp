// Test helper: another process that holds a lock on a file, the way another
// program that has a database open would.
//
//   quillmar-lock-holder flock|posix|ofd shared|exclusive PATH [START LENGTH]
//
// Takes the lock without waiting, prints "held" (or "busy" when someone
// else's lock is in the way) and then keeps it until its standard input
// closes. START and LENGTH give the byte range of posix and ofd locks (by
// default the whole file, 0 0).
#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

namespace {

int usage() {
  std::fprintf(stderr, "usage: quillmar-lock-holder flock|posix|ofd shared|exclusive PATH [START LENGTH]\n");
  return 2;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 4 && argc != 6) return usage();
  const std::string kind = argv[1];
  const std::string mode = argv[2];
  const bool exclusive = mode == "exclusive";
  if ((kind != "flock" && kind != "posix" && kind != "ofd") || (!exclusive && mode != "shared")) return usage();

  // A write lock needs a descriptor open for writing.
  const int fd = ::open(argv[3], exclusive && kind != "flock" ? O_RDWR : O_RDONLY);
  if (fd < 0) {
    std::printf("error open: %s\n", std::strerror(errno));
    return 1;
  }
  int r;
  if (kind == "flock") {
    r = ::flock(fd, (exclusive ? LOCK_EX : LOCK_SH) | LOCK_NB);
  } else {
    struct flock range {};
    range.l_type = exclusive ? F_WRLCK : F_RDLCK;
    range.l_whence = SEEK_SET;
    range.l_start = argc == 6 ? static_cast<off_t>(std::strtoll(argv[4], nullptr, 0)) : 0;
    range.l_len = argc == 6 ? static_cast<off_t>(std::strtoll(argv[5], nullptr, 0)) : 0;
    r = ::fcntl(fd, kind == "ofd" ? F_OFD_SETLK : F_SETLK, &range);
  }
  if (r != 0) {
    const bool busy = errno == EWOULDBLOCK || errno == EAGAIN || errno == EACCES;
    if (busy) {
      std::printf("busy\n");
      return 3;
    }
    std::printf("error lock: %s\n", std::strerror(errno));
    return 1;
  }
  std::printf("held\n");
  std::fflush(stdout);
  char buf[64];
  while (::read(STDIN_FILENO, buf, sizeof buf) > 0) {
  }
  return 0;
}
