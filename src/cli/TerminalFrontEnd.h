// The command line's face of the update: notices and the status line on
// standard error as they happen, a progress bar when standard error is a
// terminal, or one JSON object per line on standard output with --json.
// Questions take the answer given on the command line, else ask on the
// terminal, else are answered Cancel, so a script never hangs on one. Its
// event pump turns Ctrl-C into a stop at the update's next safe point.
#pragma once

#include <cstdint>
#include <cstdio>
#include <optional>
#include <string>

#include "app/UpdateFrontEnd.h"

namespace zuro {

struct TerminalSettings {
  bool json = false;                 ///< JSON lines on standard output
  std::optional<bool> answer;        ///< --answer ok (true) or cancel (false)
  bool interactiveQuestions = false; ///< standard input is a terminal: ask there
  bool progressBar = false;          ///< standard error is a terminal: draw the bar
};

class TerminalFrontEnd : public UpdateFrontEnd {
public:
  static constexpr int kBarWidth = 40;              ///< characters of the drawn bar
  static constexpr std::uint32_t kPollSliceMs = 50; ///< longest single wait for Ctrl-C

  TerminalFrontEnd(const TerminalSettings& settings, std::FILE* out, std::FILE* err);
  ~TerminalFrontEnd() override;
  TerminalFrontEnd(const TerminalFrontEnd&) = delete;
  TerminalFrontEnd& operator=(const TerminalFrontEnd&) = delete;

  /// Catches Ctrl-C for the life of this object (the first one asks the
  /// update to stop; a second one ends the program as usual).
  void CatchInterrupt();

  void WaitAndDispatch(std::uint32_t maxWaitMs) override;

  /// Writes the result as the last line of standard output (and as JSON first).
  void PrintResult(std::int32_t result);

  /// A plain line for the user on standard error (JSON: a "message" object).
  void Say(const std::string& text);

  /// JSON string literal of `text`, quotes included.
  static std::string JsonString(const std::string& text);

protected:
  void PresentStatus(const std::string& text, bool visible) override;
  void PresentProgress(int percent) override;
  void PresentNotice(const std::string& text, const std::string& caption, NoticeKind kind) override;
  bool PresentQuestion(const std::string& text, const std::string& caption) override;
  bool PresentOkBox(const std::string& text, const std::string& caption) override;

private:
  void DrawBar();
  void EndBar();
  void HandleInterrupt();

  TerminalSettings settings_;
  std::FILE* out_;
  std::FILE* err_;
  std::string status_;
  bool statusVisible_ = false;
  int percent_ = 0;
  bool barDrawn_ = false;
  bool interruptSeen_ = false;
  bool catching_ = false;
};

} // namespace zuro
