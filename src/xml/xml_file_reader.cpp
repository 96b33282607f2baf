#include "xml/xml_file_reader.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

namespace orbisan {

bool ReadXmlFile(const std::string& path, std::string* bytes) {
  bytes->clear();
  if (path.empty()) return false;
  // Non-blocking open: a FIFO in the file's place must not hang the caller.
  const int fd = open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) return false;
  struct stat info {};
  bool ok = fstat(fd, &info) == 0 && S_ISREG(info.st_mode) && info.st_size >= 0 &&
            static_cast<uint64_t>(info.st_size) <= kMaxXmlFileBytes;
  if (ok) {
    bytes->resize(static_cast<size_t>(info.st_size));
    size_t done = 0;
    // The file may shrink while being read; what was read is what counts.
    while (done < bytes->size()) {
      const ssize_t got = read(fd, bytes->data() + done, bytes->size() - done);
      if (got < 0 && errno == EINTR) continue;
      if (got < 0) {
        ok = false;
        break;
      }
      if (got == 0) break;
      done += static_cast<size_t>(got);
    }
    bytes->resize(done);
  }
  close(fd);
  if (!ok) bytes->clear();
  return ok;
}

}  // namespace orbisan
