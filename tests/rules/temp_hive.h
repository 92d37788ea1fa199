#pragma once
// A hive file in a scratch folder that is removed at the end of the test.

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <string>

namespace tolvar::test {

class TempHive {
  public:
    TempHive() {
        std::string pattern =
            (std::filesystem::temp_directory_path() / "tolvar-rules-XXXXXX").string();
        if (!mkdtemp(pattern.data())) throw std::runtime_error("mkdtemp failed");
        dir_ = pattern;
    }
    ~TempHive() {
        std::error_code ec;
        std::filesystem::remove_all(dir_, ec);
    }
    TempHive(const TempHive&) = delete;
    TempHive& operator=(const TempHive&) = delete;

    std::string Path() const { return (dir_ / "registry.reg").string(); }

    std::string Text() const {
        std::ifstream in(Path(), std::ios::binary);
        std::ostringstream s;
        s << in.rdbuf();
        return s.str();
    }
    void Write(const std::string& text) const {
        std::ofstream out(Path(), std::ios::binary | std::ios::trunc);
        out << text;
    }

  private:
    std::filesystem::path dir_;
};

}  // namespace tolvar::test
