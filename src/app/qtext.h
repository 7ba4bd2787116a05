// The one crossing between the engine's Windows-1251 text and Qt's strings.
#pragma once

#include <QString>
#include <string>

#include "text/cp1251.h"

namespace mkpt {

inline QString FromEngine(const std::string& cp1251) { return QString::fromStdString(mkp::Cp1251ToUtf8(cp1251)); }
inline std::string ToEngine(const QString& text) { return mkp::Utf8ToCp1251(text.toStdString()); }

}  // namespace mkpt
