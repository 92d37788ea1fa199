// Received CAPI messages of any shape: the trace line and the CONNECT_IND
// decoder must stay inside the message.

#include <cstddef>
#include <cstdint>

#include "calls/connect_ind.h"
#include "capi/capi_message.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const tolvar::CapiMessageView msg(tolvar::Bytes(data, size));
    (void)tolvar::ReceivedTraceLine(msg);
    if (auto ind = tolvar::DecodeConnectInd(msg)) {
        (void)tolvar::ShownCallingNumber(ind->callingNumber);
        (void)tolvar::ServiceText(ind->cip);
    }
    return 0;
}
