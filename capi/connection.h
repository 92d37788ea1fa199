#pragma once
// One record per call the program is involved in, and the list of them.

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace tolvar {

inline constexpr std::uint32_t kNcciPending = 0xFFFF;  // B3 link requested, not confirmed

struct TConnection {
    std::uint32_t PLCI = 0;
    std::uint32_t NCCI = 0;
    std::int32_t CIPValue = 0;
    std::string CalledNumber;
    std::string CallingNumber;
    std::string SubaddressText;
    std::int32_t Kind = 0;
    std::int32_t LogLine = -1;
    double ArrivalTime = 0.0;
};

class Connections {
  public:
    TConnection& Add(TConnection record);
    // Removes and frees the record; references to it become invalid.
    void Remove(const TConnection* record);
    void Clear() { records_.clear(); }
    std::size_t Count() const { return records_.size(); }
    TConnection& operator[](std::size_t i) { return *records_.at(i); }

    // Both scan from the newest record to the oldest, so a newer record hides
    // an older one with the same value.
    TConnection* FindConnectionByPLCI(std::uint32_t plci);
    TConnection* FindConnectionByNCCI(std::uint32_t ncci);

  private:
    std::vector<std::unique_ptr<TConnection>> records_;
};

}  // namespace tolvar
