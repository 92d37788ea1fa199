#pragma once
// The error raised by an operation that cannot go on (a message that does not
// fit, a value of the wrong type). It ends the current handler; the host
// reports its text through the front end's error report.

#include <stdexcept>
#include <string>

namespace tolvar {

class TolvarError : public std::runtime_error {
  public:
    using std::runtime_error::runtime_error;
};

}  // namespace tolvar
