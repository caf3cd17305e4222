// PHP's built-in web server on 127.0.0.1 and a free port, started and stopped
// by the test: an independent HTTP server and multipart form parser for the
// web services. The document root is a fresh folder holding the test scripts;
// tests add the version texts they need.
#pragma once

#include <sys/types.h>

#include <QByteArray>
#include <QJsonObject>
#include <QUrl>
#include <string>

namespace zuro::test {

class PhpServer {
public:
  /// `rawBody`: PHP leaves the body unparsed, and the feedback script saves
  /// it as raw.bin (names and order exactly as sent).
  explicit PhpServer(bool rawBody = false);
  ~PhpServer();
  PhpServer(const PhpServer&) = delete;
  PhpServer& operator=(const PhpServer&) = delete;

  /// Empty on success, else why the server did not come up.
  std::string Start();
  void Stop();

  QUrl Url() const;
  int Port() const { return port_; }
  const std::string& DocRoot() const { return docRoot_; }
  const std::string& RecordDir() const { return recordDir_; }

  /// Writes a file under the document root ("versionfinder/Du70.html").
  void WriteFile(const std::string& relativePath, const QByteArray& content) const;
  /// What the feedback script will answer next (instead of "Script Completed").
  void SetAnswer(const QByteArray& answer) const;
  /// The last record of the feedback script; empty when nothing was posted.
  QJsonObject Record() const;
  QByteArray RawBody() const;
  bool HasRecord() const;

  /// A port on 127.0.0.1 that nothing listens on now.
  static int FreePort();

private:
  bool rawBody_;
  std::string baseDir_;
  std::string docRoot_;
  std::string recordDir_;
  int port_ = 0;
  pid_t pid_ = -1;
};

} // namespace zuro::test
