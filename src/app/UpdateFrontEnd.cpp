#include "app/UpdateFrontEnd.h"

#include <algorithm>

namespace zuro {

void UpdateFrontEnd::ShowStatus(const std::string& text) {
  status_ = text;
  PresentStatus(text, true);
  PumpEvents();
}

void UpdateFrontEnd::HideStatus() {
  PresentStatus(status_, false);
}

void UpdateFrontEnd::SetProgress(int percent) {
  progress_ = std::clamp(percent, kProgressMin, kProgressMax);
  PresentProgress(progress_);
}

void UpdateFrontEnd::ShowNotice(const std::string& text, const std::string& caption,
                                NoticeKind kind) {
  PresentNotice(text, caption, kind);
  if (log_ != nullptr) {
    log_->LogMessage(kLogFailures, kNoticeLogModule, "%s", text.c_str());
  }
}

bool UpdateFrontEnd::PresentOkBox(const std::string& text, const std::string& caption) {
  PresentNotice(text, caption, NoticeKind::kWarning);
  return true;
}

} // namespace zuro
