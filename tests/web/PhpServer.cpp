#include "tests/web/PhpServer.h"

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonDocument>
#include <arpa/inet.h>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <netinet/in.h>
#include <vector>

#include "core/Time.h"

extern char** environ;

namespace zuro::test {

namespace {

constexpr std::uint32_t kStartWaitMs = 15000; ///< generous: the machine is shared
constexpr std::uint32_t kPollMs = 20;
constexpr int kStartAttempts = 3;

bool Accepts(int port) {
  const int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd < 0) {
    return false;
  }
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  addr.sin_port = htons(static_cast<std::uint16_t>(port));
  addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  const bool ok = connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) == 0;
  close(fd);
  return ok;
}

bool Exited(pid_t pid) {
  int status = 0;
  return waitpid(pid, &status, WNOHANG) == pid;
}

} // namespace

int PhpServer::FreePort() {
  const int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd < 0) {
    return 0;
  }
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t len = sizeof addr;
  int port = 0;
  if (bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) == 0 &&
      getsockname(fd, reinterpret_cast<sockaddr*>(&addr), &len) == 0) {
    port = ntohs(addr.sin_port);
  }
  close(fd);
  return port;
}

PhpServer::PhpServer(bool rawBody) : rawBody_(rawBody) {
  std::string pattern = (std::filesystem::temp_directory_path() / "zuroweb-XXXXXX").string();
  if (mkdtemp(pattern.data()) != nullptr) {
    baseDir_ = pattern;
  }
  docRoot_ = baseDir_ + "/www";
  recordDir_ = baseDir_ + "/record";
  QDir().mkpath(QString::fromStdString(docRoot_ + "/php-bin"));
  QDir().mkpath(QString::fromStdString(docRoot_ + "/versionfinder"));
  QDir().mkpath(QString::fromStdString(recordDir_));
  const QString source = QStringLiteral(ZURO_WEB_PHP_DIR);
  QFile::copy(source + "/app_feedback.php",
              QString::fromStdString(docRoot_ + "/php-bin/app_feedback.php"));
  QFile::copy(source + "/error500.php", QString::fromStdString(docRoot_ + "/error500.php"));
  WriteFile("index.html", "<html><body>Brenvik software</body></html>\n");
}

PhpServer::~PhpServer() {
  Stop();
  std::error_code ignored;
  if (!baseDir_.empty()) {
    std::filesystem::remove_all(baseDir_, ignored);
  }
}

std::string PhpServer::Start() {
  if (baseDir_.empty()) {
    return "no temporary folder";
  }
  std::string why;
  for (int attempt = 0; attempt < kStartAttempts; ++attempt) {
    port_ = FreePort();
    const std::string listen = "127.0.0.1:" + std::to_string(port_);
    std::vector<std::string> args = {"php",
                                     "-d",
                                     "upload_max_filesize=64M",
                                     "-d",
                                     "post_max_size=64M",
                                     "-d",
                                     "memory_limit=512M",
                                     "-d",
                                     std::string("enable_post_data_reading=") +
                                         (rawBody_ ? "0" : "1"),
                                     "-S",
                                     listen,
                                     "-t",
                                     docRoot_};
    std::vector<char*> argv;
    argv.reserve(args.size() + 1);
    for (std::string& a : args) {
      argv.push_back(a.data());
    }
    argv.push_back(nullptr);
    std::vector<std::string> envText = {"ZURO_RECORD_DIR=" + recordDir_};
    for (char** e = environ; *e != nullptr; ++e) {
      if (std::string(*e).rfind("ZURO_RECORD_DIR=", 0) != 0) {
        envText.emplace_back(*e);
      }
    }
    std::vector<char*> envp;
    envp.reserve(envText.size() + 1);
    for (std::string& e : envText) {
      envp.push_back(e.data());
    }
    envp.push_back(nullptr);

    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    const std::string logFile = baseDir_ + "/php.log";
    posix_spawn_file_actions_addopen(&actions, 1, logFile.c_str(), O_WRONLY | O_CREAT | O_APPEND,
                                     0600);
    posix_spawn_file_actions_adddup2(&actions, 1, 2);
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    const int rc = posix_spawnp(&pid_, "php", &actions, nullptr, argv.data(), envp.data());
    posix_spawn_file_actions_destroy(&actions);
    if (rc != 0) {
      pid_ = -1;
      return "php cannot be started (install php-cli): " + std::string(strerror(rc));
    }
    const std::uint32_t start = TickMs();
    while (ElapsedMs(start) < kStartWaitMs) {
      if (Accepts(port_)) {
        return {};
      }
      if (Exited(pid_)) {
        pid_ = -1;
        break;
      }
      DelayMs(kPollMs);
    }
    Stop();
    QFile log(QString::fromStdString(logFile));
    why = "php did not listen on " + listen;
    if (log.open(QIODevice::ReadOnly)) {
      why += ": " + log.readAll().right(500).toStdString();
    }
  }
  return why;
}

void PhpServer::Stop() {
  if (pid_ > 0) {
    kill(pid_, SIGTERM);
    int status = 0;
    waitpid(pid_, &status, 0);
    pid_ = -1;
  }
}

QUrl PhpServer::Url() const {
  return QUrl("http://127.0.0.1:" + QString::number(port_));
}

void PhpServer::WriteFile(const std::string& relativePath, const QByteArray& content) const {
  const QString path = QString::fromStdString(docRoot_ + "/" + relativePath);
  QDir().mkpath(QFileInfo(path).path());
  QFile file(path);
  if (file.open(QIODevice::WriteOnly | QIODevice::Truncate)) {
    file.write(content);
  }
}

void PhpServer::SetAnswer(const QByteArray& answer) const {
  QFile file(QString::fromStdString(recordDir_ + "/answer.txt"));
  if (file.open(QIODevice::WriteOnly | QIODevice::Truncate)) {
    file.write(answer);
  }
}

bool PhpServer::HasRecord() const {
  return QFileInfo::exists(QString::fromStdString(recordDir_ + "/record.json"));
}

QJsonObject PhpServer::Record() const {
  QFile file(QString::fromStdString(recordDir_ + "/record.json"));
  if (!file.open(QIODevice::ReadOnly)) {
    return {};
  }
  return QJsonDocument::fromJson(file.readAll()).object();
}

QByteArray PhpServer::RawBody() const {
  QFile file(QString::fromStdString(recordDir_ + "/raw.bin"));
  return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

} // namespace zuro::test
