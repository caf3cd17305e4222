// A scripted front end for the update sequences: it answers questions from a
// queue (Cancel when the queue is empty, unless told otherwise), records every
// status, progress figure, notice and question in order, and counts the
// event-pump calls, so a test can check what the user would have seen.
#pragma once

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <deque>
#include <string>
#include <thread>
#include <vector>

#include "app/UpdateFrontEnd.h"

namespace zuro::test {

struct SeenNotice {
  std::string text;
  std::string caption;
  NoticeKind kind;
};

struct SeenQuestion {
  std::string text;
  std::string caption;
  bool answer;
};

class FakeFrontEnd : public UpdateFrontEnd {
public:
  /// Longest real sleep of one pump call; DelayMs calls again until its time is up.
  static constexpr std::uint32_t kPumpSliceMs = 10;

  std::deque<bool> answers; ///< OK (true) or Cancel (false), first question first
  bool answerWhenEmpty = false;

  std::vector<std::string> statuses;
  std::vector<int> progress; ///< every figure the bar was set to, repeats removed
  std::vector<SeenNotice> notices;
  std::vector<SeenQuestion> questions;
  std::vector<std::string> okBoxes;
  std::vector<std::string> connectLabels;
  std::vector<std::string> checkedItems;
  std::uint64_t pumpCalls = 0;

  void WaitAndDispatch(std::uint32_t maxWaitMs) override {
    ++pumpCalls;
    if (maxWaitMs > 0) {
      std::this_thread::sleep_for(std::chrono::milliseconds(std::min(maxWaitMs, kPumpSliceMs)));
    }
  }

  void SetConnectLabel(const std::string& text) override { connectLabels.push_back(text); }
  void CheckSensorTypeItem(std::string_view item) override {
    if (!item.empty()) {
      checkedItems.emplace_back(item);
    } else {
      checkedItems.clear();
    }
  }

  bool HasNotice(const std::string& caption) const {
    return std::any_of(notices.begin(), notices.end(),
                       [&](const SeenNotice& n) { return n.caption == caption; });
  }
  std::vector<std::string> Captions() const {
    std::vector<std::string> captions;
    for (const SeenNotice& n : notices) {
      captions.push_back(n.caption);
    }
    return captions;
  }

protected:
  void PresentStatus(const std::string& text, bool visible) override {
    if (visible) {
      statuses.push_back(text);
    }
  }
  void PresentProgress(int percent) override {
    if (progress.empty() || progress.back() != percent) {
      progress.push_back(percent);
    }
  }
  void PresentNotice(const std::string& text, const std::string& caption,
                     NoticeKind kind) override {
    notices.push_back({text, caption, kind});
  }
  bool PresentQuestion(const std::string& text, const std::string& caption) override {
    bool answer = answerWhenEmpty;
    if (!answers.empty()) {
      answer = answers.front();
      answers.pop_front();
    }
    questions.push_back({text, caption, answer});
    return answer;
  }
  bool PresentOkBox(const std::string& text, const std::string& caption) override {
    okBoxes.push_back(caption + ": " + text);
    return true;
  }
};

} // namespace zuro::test
