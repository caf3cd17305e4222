// The one seam between long blocking work and the front end. Long operations
// (an update, a wait on the line) run on the front end's own thread; while
// they wait, DelayMs hands the time to the installed pump so the window stays
// alive, the command line redraws its progress, or a test records the call.
#pragma once

#include <cstdint>

namespace zuro {

class EventPump {
public:
  virtual ~EventPump() = default;
  /// Waits until an event of the front end arrives or `maxWaitMs` have passed,
  /// whichever is first, and handles every pending event. May return early.
  virtual void WaitAndDispatch(std::uint32_t maxWaitMs) = 0;
};

/// Installs the pump used by DelayMs (nullptr removes it). Returns the previous one.
EventPump* InstallEventPump(EventPump* pump);
EventPump* InstalledEventPump();

}  // namespace zuro
