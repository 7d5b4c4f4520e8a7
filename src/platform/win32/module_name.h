// The module's display prefix from its file path: no folder, no last extension.
#pragma once

#include <string>
#include <string_view>

inline std::string BaseNameWithoutExtension(std::string_view path) {
  const std::size_t slash = path.find_last_of("\\/:");
  std::string_view name = slash == std::string_view::npos ? path : path.substr(slash + 1);
  const std::size_t dot = name.rfind('.');
  if (dot != std::string_view::npos) name = name.substr(0, dot);
  return std::string(name);
}
