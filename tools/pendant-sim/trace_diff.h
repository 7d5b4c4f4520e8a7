// Traces as files, and a unified diff between two of them.
#pragma once

#include <string>
#include <vector>

namespace pendant_sim {

bool ReadTrace(const std::string& path, std::vector<std::string>& lines);
bool WriteTrace(const std::string& path, const std::vector<std::string>& lines);

// "--- from", "+++ to" and hunks with three lines of context; empty when the traces are equal.
std::string UnifiedDiff(const std::vector<std::string>& from, const std::vector<std::string>& to,
                        const std::string& fromName, const std::string& toName);

}  // namespace pendant_sim
