#pragma once
// The CAPI 2.0 operations the program uses. Results are 32-bit, 0 meaning
// success. Waiting for a signal is a descriptor that the front end's event
// loop watches, so no thread hands signals over. The real implementation sits
// on libcapi20; tests use a fake.

#include <array>
#include <cstdint>
#include <string>

#include "capi/capi_message.h"

namespace tolvar {

inline constexpr std::uint32_t kCapiIllegalApplId = 0x1101;
inline constexpr std::uint32_t kCapiReceiveQueueEmpty = 0x1104;
// The operating system failed the exchange with CAPI: for a remote CAPI, the
// connection to the server is gone. The program takes it as a lost link.
inline constexpr std::uint32_t kCapiOSResourceError = 0x1108;

class CapiDriver {
  public:
    virtual ~CapiDriver() = default;

    virtual std::uint32_t Register(std::uint32_t messageBufferSize,
                                   std::uint32_t maxLogicalConnection, std::uint32_t maxBDataBlocks,
                                   std::uint32_t maxBDataLen, std::uint32_t& applId) = 0;
    virtual std::uint32_t Release(std::uint32_t applId) = 0;
    // message: exactly the message's Length bytes. data: the block a
    // DATA_B3_REQ carries, empty for every other message.
    virtual std::uint32_t PutMessage(std::uint32_t applId, Bytes message, Bytes data) = 0;
    // On success the view holds what CAPI delivered (its Length field may
    // claim more or less) and stays valid until the next GetMessage.
    virtual std::uint32_t GetMessage(std::uint32_t applId, CapiMessageView& message) = 0;
    // A descriptor that becomes readable when a message waits for applId
    // (libcapi20's capi20_fileno); -1 when there is none.
    virtual int Fileno(std::uint32_t applId) = 0;
    // The manufacturer text of controller 1 (at most 64 characters), raw bytes.
    virtual std::string GetManufacturer() = 0;
    // The 64-byte profile of a controller: for controller 0 only its first
    // word, the number of controllers, means anything; for a controller its
    // second word is the number of B channels.
    using Profile = std::array<std::uint8_t, 64>;
    virtual std::uint32_t GetProfile(std::uint32_t controller, Profile& profile) = 0;
};

}  // namespace tolvar
