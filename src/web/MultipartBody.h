// A multipart/form-data body as a browser sends a form: text fields and file
// parts in the order they were added, each under its own name. The boundary
// is random and checked against every part, so no content can end a part
// early.
#pragma once

#include <QByteArray>
#include <string>
#include <string_view>
#include <vector>

namespace zuro {

constexpr const char* kDefaultContentType = "application/octet-stream";

class MultipartBody {
public:
  MultipartBody();
  /// A fixed boundary, for checking the bytes on the wire.
  explicit MultipartBody(std::string boundary);

  void AddField(std::string_view name, std::string_view value);
  void AddFile(std::string_view fieldName, std::string_view fileName, std::string_view contentType,
               QByteArray data);
  std::size_t PartCount() const { return parts_.size(); }

  /// The whole body. When a part holds the boundary, a new random boundary
  /// is chosen first (a fixed one too: the body must stay sound).
  QByteArray Body();
  /// "multipart/form-data; boundary=..." for the boundary Body() used.
  QByteArray ContentType() const;
  const std::string& Boundary() const { return boundary_; }

  /// A name or file name as it may stand between the quotes of a part
  /// header: '"', CR and LF are written as %22, %0D and %0A.
  static std::string QuoteName(std::string_view name);
  /// The content type of a file name from the system's MIME table, by its
  /// extension; kDefaultContentType when the table does not know it.
  static std::string ContentTypeFor(std::string_view fileName);

private:
  struct Part {
    QByteArray header;
    QByteArray content;
  };
  bool BoundaryIsFree() const;
  std::string boundary_;
  std::vector<Part> parts_;
};

} // namespace zuro
