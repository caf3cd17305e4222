#include "web/MultipartBody.h"

#include <QMimeDatabase>
#include <QRandomGenerator>
#include <QString>
#include <utility>

namespace zuro {

namespace {

constexpr const char* kBoundaryPrefix = "----ZuroBSLFormBoundary";
constexpr int kBoundaryRandomChars = 24;
constexpr const char* kCrLf = "\r\n";

std::string RandomBoundary() {
  static constexpr char kAlphabet[] =
      "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789";
  std::string boundary = kBoundaryPrefix;
  for (int i = 0; i < kBoundaryRandomChars; ++i) {
    boundary += kAlphabet[QRandomGenerator::system()->bounded(int(sizeof(kAlphabet) - 1))];
  }
  return boundary;
}

QByteArray Bytes(std::string_view text) {
  return QByteArray(text.data(), static_cast<qsizetype>(text.size()));
}

} // namespace

MultipartBody::MultipartBody() : boundary_(RandomBoundary()) {}

MultipartBody::MultipartBody(std::string boundary) : boundary_(std::move(boundary)) {}

std::string MultipartBody::QuoteName(std::string_view name) {
  std::string out;
  out.reserve(name.size());
  for (char c : name) {
    switch (c) {
    case '"':
      out += "%22";
      break;
    case '\r':
      out += "%0D";
      break;
    case '\n':
      out += "%0A";
      break;
    default:
      out += c;
    }
  }
  return out;
}

std::string MultipartBody::ContentTypeFor(std::string_view fileName) {
  const QMimeType type = QMimeDatabase().mimeTypeForFile(QString::fromUtf8(Bytes(fileName)),
                                                         QMimeDatabase::MatchExtension);
  if (!type.isValid() || type.isDefault()) {
    return kDefaultContentType;
  }
  return type.name().toStdString();
}

void MultipartBody::AddField(std::string_view name, std::string_view value) {
  Part part;
  part.header = "Content-Disposition: form-data; name=\"" + Bytes(QuoteName(name)) + "\"" + kCrLf;
  part.content = Bytes(value);
  parts_.push_back(std::move(part));
}

void MultipartBody::AddFile(std::string_view fieldName, std::string_view fileName,
                            std::string_view contentType, QByteArray data) {
  Part part;
  part.header = "Content-Disposition: form-data; name=\"" + Bytes(QuoteName(fieldName)) +
                "\"; filename=\"" + Bytes(QuoteName(fileName)) + "\"" + kCrLf +
                "Content-Type: " + Bytes(contentType) + kCrLf;
  part.content = std::move(data);
  parts_.push_back(std::move(part));
}

bool MultipartBody::BoundaryIsFree() const {
  const QByteArray mark = Bytes(boundary_);
  for (const Part& part : parts_) {
    if (part.content.contains(mark) || part.header.contains(mark)) {
      return false;
    }
  }
  return true;
}

QByteArray MultipartBody::Body() {
  while (!BoundaryIsFree()) {
    boundary_ = RandomBoundary();
  }
  const QByteArray dashes = "--" + Bytes(boundary_);
  qsizetype size = dashes.size() + 4;
  for (const Part& part : parts_) {
    size += dashes.size() + 6 + part.header.size() + part.content.size();
  }
  QByteArray body;
  body.reserve(size);
  for (const Part& part : parts_) {
    body += dashes + kCrLf + part.header + kCrLf;
    body += part.content;
    body += kCrLf;
  }
  body += dashes + "--" + kCrLf;
  return body;
}

QByteArray MultipartBody::ContentType() const {
  return "multipart/form-data; boundary=" + Bytes(boundary_);
}

} // namespace zuro
