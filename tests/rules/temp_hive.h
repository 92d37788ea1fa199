#pragma once
// A hive file in a scratch folder that is removed at the end of the test.

#include <string>

#include "support/files.h"

namespace tolvar::test {

class TempHive {
  public:
    std::string Path() const { return dir_.File("registry.reg"); }
    std::string Text() const { return ReadAll(Path()); }
    void Write(const std::string& text) const { WriteAll(Path(), text); }

  private:
    TempDir dir_;
};

}  // namespace tolvar::test
