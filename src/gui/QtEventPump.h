// The desktop's pump for the core's waits: while an update waits on the line,
// the window keeps painting, its timers fire and its menus answer. A wait
// returns as soon as an event has been handled or its time has passed.
#pragma once

#include <cstdint>

#include "core/EventPump.h"

namespace zuro {

class QtEventPump : public EventPump {
public:
  /// Installs itself for DelayMs; the destructor puts back what was there.
  QtEventPump();
  ~QtEventPump() override;
  QtEventPump(const QtEventPump&) = delete;
  QtEventPump& operator=(const QtEventPump&) = delete;

  void WaitAndDispatch(std::uint32_t maxWaitMs) override;

  /// Handles what is pending without waiting (after a status change).
  static void DispatchPending();

  std::uint64_t calls() const { return calls_; }

private:
  EventPump* previous_ = nullptr;
  std::uint64_t calls_ = 0;
};

} // namespace zuro
