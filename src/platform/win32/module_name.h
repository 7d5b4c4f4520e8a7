// The module's display prefix from its file path: no folder, no last extension.
#pragma once

#include <string>
#include <string_view>

#include "text/ascii.h"

inline std::string BaseNameWithoutExtension(std::string_view path) {
  return std::string(ascii::BaseNameWithoutExtension(path, "\\/:"));
}
