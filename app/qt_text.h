#pragma once
// The engine's texts are UTF-8; Qt's are QString.

#include <QString>
#include <string>
#include <string_view>

namespace tolvar {

inline QString Q(std::string_view s) {
    return QString::fromUtf8(s.data(), static_cast<int>(s.size()));
}
inline QString Q(const std::string& s) {
    return Q(std::string_view(s));
}
inline std::string U(const QString& s) {
    return s.toStdString();
}

}  // namespace tolvar
