#pragma once
// Wall-clock and tick-count access, injected so tests run on virtual time.

#include <cstdint>

#include "core/datetime.h"

namespace tolvar {

class Clock {
  public:
    virtual ~Clock() = default;
    // Local date and time now.
    virtual DateTime Now() const = 0;
    // Monotonic milliseconds as an unsigned 32-bit value that wraps.
    virtual std::uint32_t TickCount() const = 0;
};

// The machine's own clock.
class SystemClock final : public Clock {
  public:
    DateTime Now() const override;
    std::uint32_t TickCount() const override;
};

}  // namespace tolvar
