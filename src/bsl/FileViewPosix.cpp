#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <new>
#include <stdexcept>

#include "bsl/FileView.h"

namespace zuro {

namespace {
constexpr std::size_t kReadChunk = std::size_t{64} * 1024; ///< bytes per read of an unmappable file

#ifdef MAP_POPULATE
constexpr int kMapFlags = MAP_PRIVATE | MAP_POPULATE; // one call maps the cached pages
#else
constexpr int kMapFlags = MAP_PRIVATE;
#endif
} // namespace

FileView::~FileView() {
  Close();
}

void FileView::Close() {
  if (map_ != nullptr) {
    ::munmap(map_, mapLength_);
    map_ = nullptr;
  }
  mapLength_ = 0;
  copy_.clear();
  text_ = {};
}

Result FileView::Open(const std::string& path) {
  Close();
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) {
    return -errno;
  }
  struct stat info {};
  Result result = 0;
  if (::fstat(fd, &info) != 0) {
    result = -errno;
  } else if (S_ISDIR(info.st_mode)) {
    result = -EISDIR;
  } else if (S_ISREG(info.st_mode) && info.st_size > 0) {
    void* map =
        ::mmap(nullptr, static_cast<std::size_t>(info.st_size), PROT_READ, kMapFlags, fd, 0);
    if (map == MAP_FAILED) {
      result = -errno;
    } else {
      map_ = map;
      mapLength_ = static_cast<std::size_t>(info.st_size);
      text_ = std::string_view(static_cast<const char*>(map_), mapLength_);
    }
  } else if (!S_ISREG(info.st_mode)) {
    try {
      std::size_t have = 0;
      for (;;) {
        copy_.resize(have + kReadChunk);
        const ssize_t got = ::read(fd, copy_.data() + have, kReadChunk);
        if (got < 0) {
          if (errno == EINTR) {
            continue;
          }
          result = -errno;
          break;
        }
        have += static_cast<std::size_t>(got);
        if (got == 0) {
          break;
        }
      }
      copy_.resize(have);
      text_ = copy_;
    } catch (const std::bad_alloc&) {
      result = -ENOMEM;
    } catch (const std::length_error&) {
      result = -ENOMEM;
    }
  }
  ::close(fd);
  if (result < 0) {
    Close();
  }
  return result;
}

} // namespace zuro
