#include "gui/QtEventPump.h"

#include <QCoreApplication>
#include <QEventLoop>
#include <QTimer>
#include <limits>

namespace zuro {

QtEventPump::QtEventPump() : previous_(InstallEventPump(this)) {}

QtEventPump::~QtEventPump() {
  if (InstalledEventPump() == this) {
    InstallEventPump(previous_);
  }
}

void QtEventPump::WaitAndDispatch(std::uint32_t maxWaitMs) {
  ++calls_;
  // A timer of our own bounds the wait: WaitForMoreEvents returns once it, or
  // anything else, has been delivered.
  QEventLoop loop;
  QTimer wake;
  wake.setSingleShot(true);
  wake.setTimerType(Qt::PreciseTimer);
  QObject::connect(&wake, &QTimer::timeout, &loop, &QEventLoop::quit);
  constexpr auto kMaxTimerMs = static_cast<std::uint32_t>(std::numeric_limits<int>::max());
  wake.start(static_cast<int>(maxWaitMs < kMaxTimerMs ? maxWaitMs : kMaxTimerMs));
  loop.processEvents(QEventLoop::AllEvents | QEventLoop::WaitForMoreEvents);
}

void QtEventPump::DispatchPending() {
  QCoreApplication::processEvents(QEventLoop::AllEvents);
}

} // namespace zuro
