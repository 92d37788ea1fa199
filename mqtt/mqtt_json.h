#pragma once
// The JSON of the published messages: one flat object at a time, built in
// order, and the time stamps they carry.

#include <cstdint>
#include <string>
#include <string_view>

#include "core/datetime.h"

namespace tolvar {

class JsonObject {
  public:
    JsonObject& Add(std::string_view name, std::string_view text);
    JsonObject& Add(std::string_view name, const char* text) {
        return Add(name, std::string_view(text));
    }
    JsonObject& Add(std::string_view name, std::int64_t number);
    JsonObject& Add(std::string_view name, bool value);
    // A value that is JSON already (a nested object).
    JsonObject& AddRaw(std::string_view name, std::string_view json);
    std::string Text() const { return body_ + "}"; }

  private:
    void Name(std::string_view name);
    std::string body_ = "{";
};

// text as a JSON string, quotes included. Text from the line is UTF-8 already.
std::string JsonString(std::string_view text);

// "2026-12-07T22:01:51+01:00": the local time with the offset it had then.
std::string IsoLocalTime(const DateTime& local);

// Seconds between two local times (negative when to is earlier).
std::int64_t SecondsBetween(const DateTime& from, const DateTime& to);

}  // namespace tolvar
