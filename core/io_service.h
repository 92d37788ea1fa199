#pragma once
// Readiness of file descriptors on the engine's event loop: the front end's
// loop (Qt socket notifiers, the console's poll) watches them and calls back
// on the engine's thread. The engine owns no thread of its own for this.

#include <functional>

namespace tolvar {

class IoService {
  public:
    virtual ~IoService() = default;
    // onReadable runs whenever fd can be read (or is at end of file or in
    // error), until Unwatch. Watching a watched fd replaces its callback.
    virtual void Watch(int fd, std::function<void()> onReadable) = 0;
    virtual void Unwatch(int fd) = 0;
};

}  // namespace tolvar
