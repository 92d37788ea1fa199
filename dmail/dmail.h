#pragma once
// D-Mail: texts that travel in the signalling of calls that are never
// answered. This class owns the D-Mail calls (outgoing packets and
// acknowledgements, incoming calls taken as D-Mail) and the sender's and the
// receiver's state.

#include <cstdint>
#include <string>

#include "capi/call_router.h"

namespace tolvar {

class CapiSession;

class DMail final : public CallOwner {
  public:
    explicit DMail(CapiSession& capi);

    // Sender idle, receiver ready, both texts empty (start-up).
    void Reset();

    // CallOwner, for DMailOut and DMailIn.
    void AlertConf(TConnection& call) override;
    void InfoInd(TConnection& call, std::uint16_t infoNumber) override;
    void ConnectActive(TConnection& call) override;

    int SendState() const { return DMailSendState; }
    int RecvState() const { return DMailRecvState; }

  private:
    CapiSession& capi_;
    int DMailSendState = 0;  // 0 idle, 1 sending packets, 2 waiting for the acknowledgement
    int DMailRecvState = 3;  // 3 ready, 4 collecting packets, 5 acknowledging
    std::string DMailSendText;
    std::string DMailRecvText;
};

}  // namespace tolvar
