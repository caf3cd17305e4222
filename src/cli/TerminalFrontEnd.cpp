#include "cli/TerminalFrontEnd.h"

#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstring>

#include "core/Text.h"

namespace zuro {

namespace {
/// The signal handler only writes one byte here; the pump reads it.
int gInterruptPipe[2] = {-1, -1};

extern "C" void OnInterrupt(int) {
  const char byte = 1;
  const int saved = errno;
  (void)!write(gInterruptPipe[1], &byte, 1);
  errno = saved;
}

const char* KindWord(NoticeKind kind) {
  switch (kind) {
  case NoticeKind::kWarning:
    return "warning";
  case NoticeKind::kError:
    return "error";
  case NoticeKind::kInformation:
    return "information";
  case NoticeKind::kConfirmation:
    return "confirmation";
  }
  return "warning";
}

/// A text with line breaks, each line indented, for the terminal.
std::string Indented(const std::string& text) {
  std::string out = "  ";
  for (const char c : text) {
    if (c == '\r') {
      continue;
    }
    out += c;
    if (c == '\n') {
      out += "  ";
    }
  }
  return out;
}

constexpr int kMaxAnswerChars = 32;
} // namespace

TerminalFrontEnd::TerminalFrontEnd(const TerminalSettings& settings, std::FILE* out, std::FILE* err)
    : settings_(settings), out_(out), err_(err) {}

TerminalFrontEnd::~TerminalFrontEnd() {
  EndBar();
  if (catching_) {
    (void)std::signal(SIGINT, SIG_DFL);
    close(gInterruptPipe[0]);
    close(gInterruptPipe[1]);
    gInterruptPipe[0] = gInterruptPipe[1] = -1;
  }
}

void TerminalFrontEnd::CatchInterrupt() {
  if (catching_ || pipe2(gInterruptPipe, O_CLOEXEC | O_NONBLOCK) != 0) {
    return;
  }
  struct sigaction action {};
  action.sa_handler = OnInterrupt;
  sigemptyset(&action.sa_mask);
  // The first Ctrl-C asks for a stop; the handler is then gone, so a second
  // one ends the program at once.
  action.sa_flags = SA_RESETHAND | SA_RESTART;
  sigaction(SIGINT, &action, nullptr);
  catching_ = true;
}

std::string TerminalFrontEnd::JsonString(const std::string& text) {
  std::string out = "\"";
  for (const char c : text) {
    switch (c) {
    case '"':
      out += "\\\"";
      break;
    case '\\':
      out += "\\\\";
      break;
    case '\n':
      out += "\\n";
      break;
    case '\r':
      out += "\\r";
      break;
    case '\t':
      out += "\\t";
      break;
    default:
      if (static_cast<unsigned char>(c) < 0x20) {
        out += StrFormat("\\u%04x", static_cast<unsigned>(static_cast<unsigned char>(c)));
      } else {
        out += c;
      }
    }
  }
  return out + "\"";
}

void TerminalFrontEnd::WaitAndDispatch(std::uint32_t maxWaitMs) {
  if (!catching_) {
    if (maxWaitMs > 0) {
      usleep(std::min(maxWaitMs, kPollSliceMs) * 1000U);
    }
    return;
  }
  pollfd fd{gInterruptPipe[0], POLLIN, 0};
  const int ready = poll(&fd, 1, static_cast<int>(std::min(maxWaitMs, kPollSliceMs)));
  if (ready > 0) {
    char drained[16];
    while (read(gInterruptPipe[0], drained, sizeof drained) > 0) {
    }
    HandleInterrupt();
  }
}

void TerminalFrontEnd::HandleInterrupt() {
  if (interruptSeen_) {
    return;
  }
  interruptSeen_ = true;
  Options().keepGoing = false;
  Say("Interrupted: the update stops at its next safe point (Ctrl-C again ends the program "
      "at once, which may leave the instrument without firmware).");
}

void TerminalFrontEnd::Say(const std::string& text) {
  EndBar();
  if (settings_.json) {
    (void)std::fprintf(out_, "{\"type\":\"message\",\"text\":%s}\n", JsonString(text).c_str());
    (void)std::fflush(out_);
  }
  (void)std::fprintf(err_, "%s\n", text.c_str());
  (void)std::fflush(err_);
}

void TerminalFrontEnd::PresentStatus(const std::string& text, bool visible) {
  const bool changed = visible && (text != status_ || !statusVisible_);
  status_ = text;
  statusVisible_ = visible;
  if (!changed) {
    return;
  }
  if (settings_.json) {
    (void)std::fprintf(out_, "{\"type\":\"status\",\"text\":%s}\n", JsonString(text).c_str());
    (void)std::fflush(out_);
  }
  if (settings_.progressBar) {
    DrawBar();
  } else if (!settings_.json) {
    (void)std::fprintf(err_, "%s\n", text.c_str());
    (void)std::fflush(err_);
  }
}

void TerminalFrontEnd::PresentProgress(int percent) {
  if (percent == percent_) {
    return;
  }
  percent_ = percent;
  if (settings_.json) {
    (void)std::fprintf(out_, "{\"type\":\"progress\",\"percent\":%d}\n", percent);
    (void)std::fflush(out_);
  }
  if (settings_.progressBar) {
    DrawBar();
  }
}

void TerminalFrontEnd::DrawBar() {
  const int filled = percent_ * kBarWidth / kProgressMax;
  std::string bar(static_cast<std::size_t>(filled), '#');
  bar.append(static_cast<std::size_t>(kBarWidth - filled), '-');
  // \r and clear-to-end-of-line redraw the one bar line in place.
  (void)std::fprintf(err_, "\r\x1b[K[%s] %3d%%  %s", bar.c_str(), percent_,
                     statusVisible_ ? status_.c_str() : "");
  (void)std::fflush(err_);
  barDrawn_ = true;
}

void TerminalFrontEnd::EndBar() {
  if (barDrawn_) {
    (void)std::fputc('\n', err_);
    (void)std::fflush(err_);
    barDrawn_ = false;
  }
}

void TerminalFrontEnd::PresentNotice(const std::string& text, const std::string& caption,
                                     NoticeKind kind) {
  EndBar();
  if (settings_.json) {
    (void)std::fprintf(out_, "{\"type\":\"notice\",\"kind\":\"%s\",\"caption\":%s,\"text\":%s}\n",
                       KindWord(kind), JsonString(caption).c_str(), JsonString(text).c_str());
    (void)std::fflush(out_);
  }
  (void)std::fprintf(err_, "%s: %s\n%s\n", KindWord(kind), caption.c_str(), Indented(text).c_str());
  (void)std::fflush(err_);
}

bool TerminalFrontEnd::PresentQuestion(const std::string& text, const std::string& caption) {
  EndBar();
  bool answer = false;
  const char* how = "no terminal";
  (void)std::fprintf(err_, "question: %s\n%s\n", caption.c_str(), Indented(text).c_str());
  if (settings_.answer.has_value()) {
    answer = *settings_.answer;
    how = "--answer";
  } else if (settings_.interactiveQuestions) {
    how = "terminal";
    (void)std::fprintf(err_, "OK or Cancel? [ok/cancel] ");
    (void)std::fflush(err_);
    char line[kMaxAnswerChars] = {};
    if (std::fgets(line, sizeof line, stdin) != nullptr) {
      const std::string word = ToUpperAscii(line);
      answer = word.rfind("OK", 0) == 0 || word.rfind('Y', 0) == 0;
    }
  }
  (void)std::fprintf(err_, "answer: %s (%s)\n", answer ? "OK" : "Cancel", how);
  (void)std::fflush(err_);
  if (settings_.json) {
    (void)std::fprintf(
        out_, "{\"type\":\"question\",\"caption\":%s,\"text\":%s,\"answer\":\"%s\"}\n",
        JsonString(caption).c_str(), JsonString(text).c_str(), answer ? "ok" : "cancel");
    (void)std::fflush(out_);
  }
  if (settings_.progressBar && statusVisible_) {
    DrawBar();
  }
  return answer;
}

bool TerminalFrontEnd::PresentOkBox(const std::string& text, const std::string& caption) {
  PresentNotice(text, caption, NoticeKind::kWarning);
  return true;
}

void TerminalFrontEnd::PrintResult(std::int32_t result) {
  EndBar();
  if (settings_.json) {
    (void)std::fprintf(out_, "{\"type\":\"result\",\"result\":%d}\n", result);
  }
  (void)std::fprintf(out_, "result: %d\n", result);
  (void)std::fflush(out_);
}

} // namespace zuro
