// A fresh folder under the system's temporary folder, removed with its content.
#pragma once

#include <cstdlib>
#include <filesystem>
#include <string>

namespace zuro::test {

class TempFolder {
public:
  TempFolder() {
    std::string pattern = (std::filesystem::temp_directory_path() / "zuroapp-XXXXXX").string();
    if (mkdtemp(pattern.data()) != nullptr) {
      path_ = pattern;
    }
  }
  ~TempFolder() {
    std::error_code error;
    if (!path_.empty()) {
      std::filesystem::remove_all(path_, error);
    }
  }
  TempFolder(const TempFolder&) = delete;
  TempFolder& operator=(const TempFolder&) = delete;
  const std::string& Path() const { return path_; }

private:
  std::string path_;
};

} // namespace zuro::test
