#pragma once
// The link to CAPI over the program's run: registration, the descriptor the
// event loop watches for messages, and what happens when CAPI is missing at
// start or lost later (a remote CAPI server restarted, a card's driver
// unloaded): the link goes down, is tried again every 2 s, and comes up
// again on its own. Nothing runs while it is down but that retry.

#include <cstdint>
#include <functional>
#include <string>

#include "core/timer.h"

namespace tolvar {

class CapiDriver;
class CapiSession;
class IoService;

struct CapiLinkEvents {
    // A message waits: fetch exactly one (the engine guards the handler).
    std::function<void()> readable;
    // Registered again after being down (manufacturer text, raw bytes).
    std::function<void(const std::string& manufacturer)> up;
    // Lost while running; reason says why.
    std::function<void(const std::string& reason)> down;
};

class CapiLink {
  public:
    static constexpr std::uint32_t kRetryMs = 2000;
    // A descriptor that reports a message so often in a row with none to
    // fetch is taken for a dead one.
    static constexpr int kEmptyFetchesForLoss = 3;

    CapiLink(CapiDriver& driver, CapiSession& session, IoService& io, TimerService& timers,
             CapiLinkEvents events);
    ~CapiLink();
    CapiLink(const CapiLink&) = delete;
    CapiLink& operator=(const CapiLink&) = delete;

    // The first registration. False when CAPI could not be reached; the link
    // then retries on its own. Why it failed is in DownReason().
    bool Start();
    // Releases CAPI; no more retries.
    void Stop();
    bool Up() const { return up_; }
    const std::string& DownReason() const { return downReason_; }

    // While held no message is fetched: they wait in CAPI, as behind a
    // handler that does not return. Holds nest.
    void Hold();
    void Resume();
    bool Held() const { return holds_ > 0; }

    // What the last fetch returned (the driver's result).
    void FetchDone(std::uint32_t result);
    // A put failed with result.
    void PutFailed(std::uint32_t result);

  private:
    bool TryRegister();
    void Watch();
    void Unwatch();
    void Lose(const std::string& reason);
    void Retry();

    CapiDriver& driver_;
    CapiSession& session_;
    IoService& io_;
    CapiLinkEvents events_;
    Timer retry_;
    Timer loseSoon_;  // a loss seen inside a handler is acted on after it
    std::string pendingReason_;
    bool started_ = false;
    bool up_ = false;
    int fd_ = -1;
    bool watching_ = false;
    int holds_ = 0;
    int emptyFetches_ = 0;
    std::string downReason_;
};

}  // namespace tolvar
