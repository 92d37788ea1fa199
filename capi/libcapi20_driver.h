#pragma once
// The CAPI operations over Debian's libcapi20: kernel CAPI, or a remote CAPI
// server through its rcapi or fritzbox module.

#include <optional>
#include <string>
#include <vector>

#include "capi/capi_driver.h"

namespace tolvar {

struct RemoteCapi {
    std::string driver;  // "rcapi" or "fritzbox"
    std::string host;
    int port = 0;
};

// Parses "DRIVER:HOST:PORT"; nothing when the text does not have that form.
std::optional<RemoteCapi> ParseRemoteCapi(const std::string& text);

class Libcapi20Driver final : public CapiDriver {
  public:
    // remote: configure libcapi20 for a remote server before its first call;
    // without it libcapi20's own configuration applies.
    explicit Libcapi20Driver(const std::optional<RemoteCapi>& remote);

    std::uint32_t Register(std::uint32_t messageBufferSize, std::uint32_t maxLogicalConnection,
                           std::uint32_t maxBDataBlocks, std::uint32_t maxBDataLen,
                           std::uint32_t& applId) override;
    std::uint32_t Release(std::uint32_t applId) override;
    std::uint32_t PutMessage(std::uint32_t applId, Bytes message, Bytes data) override;
    std::uint32_t GetMessage(std::uint32_t applId, CapiMessageView& message) override;
    int Fileno(std::uint32_t applId) override;
    std::string GetManufacturer() override;
    std::uint32_t GetProfile(std::uint32_t controller, Profile& profile) override;

  private:
    std::vector<std::uint8_t> putBuffer_;
};

}  // namespace tolvar
