// A read-only view of a whole file's bytes. Firmware files of the larger
// parts run to megabytes; mapping them instead of copying them keeps loading
// quick. Files that cannot be mapped (pipes, devices) are read into memory.
#pragma once

#include <string>
#include <string_view>

#include "core/ResultCodes.h"

namespace zuro {

class FileView {
public:
  FileView() = default;
  ~FileView();
  FileView(const FileView&) = delete;
  FileView& operator=(const FileView&) = delete;

  /// 0 when the file's bytes are in view; the negated error number otherwise
  /// (-EISDIR for a folder, -ENOMEM when memory ran out).
  Result Open(const std::string& path);
  std::string_view Text() const { return text_; }

private:
  void Close();
  void* map_ = nullptr;
  std::size_t mapLength_ = 0;
  std::string copy_; ///< the bytes of a file that could not be mapped
  std::string_view text_;
};

} // namespace zuro
