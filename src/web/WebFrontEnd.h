// What the web services need of a user interface: message boxes that may ask
// Yes or No, and opening an address in the user's web browser. The feedback
// form implements it with widgets; tests answer and record every box.
#pragma once

#include <string>

namespace zuro {

/// The kind of a web message box, which picks its symbol and sound.
enum class AskType : int { kWarning = 0, kError = 1, kInformation = 2, kConfirmation = 3 };

class WebFrontEnd {
public:
  virtual ~WebFrontEnd() = default;
  /// A modal box with `caption`: Yes and No (Yes the default) when `yesNo`,
  /// else only OK. True when the user chose Yes.
  virtual bool AskYesNo(const std::string& text, const std::string& caption, bool yesNo,
                        AskType dialogType) = 0;
  /// Opens `address` in the user's web browser; false when that failed.
  virtual bool OpenAddress(const std::string& address) = 0;
};

} // namespace zuro
