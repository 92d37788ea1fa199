#include "dmail/dmail.h"

#include "capi/capi_codes.h"
#include "capi/capi_session.h"
#include "capi/connection.h"

namespace tolvar {

DMail::DMail(CapiSession& capi) : capi_(capi) {}

void DMail::Reset() {
    DMailSendText.clear();
    DMailRecvText.clear();
    DMailSendState = 0;
    DMailRecvState = 3;
}

void DMail::AlertConf(TConnection& call) {
    // An incoming D-Mail call is refused once it has been alerted: the text
    // has arrived, and no connection (and no charge) may come of it.
    if (call.Kind == CallKind::DMailIn)
        capi_.SendConnectResp(call.PLCI, reject::kIncompatibleDestination);
}

void DMail::InfoInd(TConnection& call, std::uint16_t infoNumber) {
    // The far end of a packet call rings: the packet has arrived, hang up.
    if (call.Kind == CallKind::DMailOut && infoNumber == info::kAlerting)
        capi_.SendDisconnectReq(call.PLCI);
}

void DMail::ConnectActive(TConnection& call) {
    // A D-Mail call must never be connected.
    capi_.SendDisconnectReq(call.PLCI);
}

}  // namespace tolvar
