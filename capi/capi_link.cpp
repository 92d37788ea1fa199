#include "capi/capi_link.h"

#include "capi/capi_driver.h"
#include "capi/capi_session.h"
#include "core/bytes.h"
#include "core/io_service.h"

namespace tolvar {

CapiLink::CapiLink(CapiDriver& driver, CapiSession& session, IoService& io, TimerService& timers,
                   CapiLinkEvents events)
    : driver_(driver),
      session_(session),
      io_(io),
      events_(std::move(events)),
      retry_(timers, kRetryMs),
      loseSoon_(timers, 1) {
    retry_.OnTimer = [this] { Retry(); };
    loseSoon_.OnTimer = [this] {
        loseSoon_.SetEnabled(false);
        if (up_) Lose(pendingReason_);
    };
}

CapiLink::~CapiLink() {
    Unwatch();
}

bool CapiLink::Start() {
    started_ = true;
    if (TryRegister()) return true;
    retry_.SetEnabled(true);
    return false;
}

void CapiLink::Stop() {
    started_ = false;
    retry_.SetEnabled(false);
    loseSoon_.SetEnabled(false);
    Unwatch();
    if (up_) session_.Release();
    up_ = false;
}

bool CapiLink::TryRegister() {
    const std::uint32_t result = session_.Register();
    if (result != 0 || session_.ApplID() == 0) {
        downReason_ = "Anmeldung bei der CAPI fehlgeschlagen (0x" + Hex(result, 4) + ")";
        return false;
    }
    fd_ = driver_.Fileno(session_.ApplID());
    up_ = true;
    emptyFetches_ = 0;
    downReason_.clear();
    if (!Held()) Watch();
    return true;
}

void CapiLink::Watch() {
    if (watching_ || fd_ < 0) return;
    // The engine's own function, not one that calls it: one hop less on
    // the way to an ALERT_REQ.
    io_.Watch(
        fd_, events_.readable ? events_.readable : [] {});
    watching_ = true;
}

void CapiLink::Unwatch() {
    if (!watching_) return;
    io_.Unwatch(fd_);
    watching_ = false;
}

void CapiLink::Hold() {
    ++holds_;
    Unwatch();
}

void CapiLink::Resume() {
    if (holds_ > 0) --holds_;
    if (!Held() && up_) Watch();
}

void CapiLink::FetchDone(std::uint32_t result) {
    if (result == 0) {
        emptyFetches_ = 0;
        return;
    }
    if (result == kCapiOSResourceError) {
        PutFailed(result);
        return;
    }
    if (result == kCapiReceiveQueueEmpty && ++emptyFetches_ >= kEmptyFetchesForLoss)
        PutFailed(kCapiOSResourceError);
}

void CapiLink::PutFailed(std::uint32_t result) {
    if (result != kCapiOSResourceError || !up_) return;
    // The caller may be a handler in the middle of a call's record: the
    // calls are ended only after it has returned.
    pendingReason_ = "Verbindung zur CAPI verloren";
    Unwatch();
    loseSoon_.SetEnabled(true);
}

void CapiLink::Lose(const std::string& reason) {
    Unwatch();
    session_.Release();
    up_ = false;
    fd_ = -1;
    downReason_ = reason;
    retry_.SetEnabled(true);
    if (events_.down) events_.down(reason);
}

void CapiLink::Retry() {
    if (!started_ || up_) {
        retry_.SetEnabled(false);
        return;
    }
    if (!TryRegister()) return;
    retry_.SetEnabled(false);
    if (events_.up) events_.up(driver_.GetManufacturer());
}

}  // namespace tolvar
