// A front end for the web services that records every box and answers from
// a queue (Yes when the queue is empty), and records the addresses it was
// asked to open.
#pragma once

#include <deque>
#include <string>
#include <vector>

#include "web/WebFrontEnd.h"

namespace zuro::test {

struct SeenWebBox {
  std::string text;
  std::string caption;
  bool yesNo = false;
  AskType type = AskType::kWarning;
};

class RecordingFrontEnd : public WebFrontEnd {
public:
  bool AskYesNo(const std::string& text, const std::string& caption, bool yesNo,
                AskType dialogType) override {
    boxes.push_back({text, caption, yesNo, dialogType});
    bool answer = true;
    if (!answers.empty()) {
      answer = answers.front();
      answers.pop_front();
    }
    return yesNo && answer;
  }
  bool OpenAddress(const std::string& address) override {
    opened.push_back(address);
    return openSucceeds;
  }

  std::vector<SeenWebBox> boxes;
  std::deque<bool> answers;
  std::vector<std::string> opened;
  bool openSucceeds = true;
};

} // namespace zuro::test
