#include "trace_diff.h"

#include <algorithm>
#include <cstdint>
#include <fstream>

namespace pendant_sim {

namespace {

constexpr std::size_t kContext = 3;
// Beyond this many table cells the diff shows the first difference only.
constexpr std::size_t kMaxCells = std::size_t{16} * 1024 * 1024;

struct Edit {
  char op;  // ' ', '-', '+'
  std::size_t fromLine;
  std::size_t toLine;
};

// Longest common subsequence over the lines, walked from the front.
std::vector<Edit> EditScript(const std::vector<std::string>& a, const std::vector<std::string>& b) {
  const std::size_t n = a.size();
  const std::size_t m = b.size();
  std::vector<std::uint32_t> lcs((n + 1) * (m + 1), 0);
  const auto at = [m](std::size_t i, std::size_t j) { return i * (m + 1) + j; };
  for (std::size_t i = n; i-- > 0;)
    for (std::size_t j = m; j-- > 0;)
      lcs[at(i, j)] =
          a[i] == b[j] ? lcs[at(i + 1, j + 1)] + 1 : std::max(lcs[at(i + 1, j)], lcs[at(i, j + 1)]);
  std::vector<Edit> edits;
  std::size_t i = 0;
  std::size_t j = 0;
  while (i < n || j < m) {
    if (i < n && j < m && a[i] == b[j]) {
      edits.push_back({' ', i++, j++});
    } else if (j < m && (i == n || lcs[at(i, j + 1)] > lcs[at(i + 1, j)])) {
      edits.push_back({'+', i, j++});
    } else {
      edits.push_back({'-', i++, j});
    }
  }
  return edits;
}

// Without the table: everything from the first differing line on is one change.
std::vector<Edit> FirstDifferenceScript(const std::vector<std::string>& a,
                                        const std::vector<std::string>& b) {
  std::vector<Edit> edits;
  std::size_t k = 0;
  while (k < a.size() && k < b.size() && a[k] == b[k]) edits.push_back({' ', k, k}), ++k;
  for (std::size_t i = k; i < a.size(); ++i) edits.push_back({'-', i, k});
  for (std::size_t j = k; j < b.size(); ++j) edits.push_back({'+', a.size(), j});
  return edits;
}

std::string Range(std::size_t start, std::size_t count) {
  // Unified diff numbers lines from 1; an empty range names the line before it.
  return std::to_string(count == 0 ? start : start + 1) + "," + std::to_string(count);
}

}  // namespace

bool ReadTrace(const std::string& path, std::vector<std::string>& lines) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return false;
  lines.clear();
  std::string line;
  while (std::getline(in, line)) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    lines.push_back(line);
  }
  return true;
}

bool WriteTrace(const std::string& path, const std::vector<std::string>& lines) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  if (!out) return false;
  for (const auto& line : lines) out << line << '\n';
  out.flush();
  return static_cast<bool>(out);
}

std::string UnifiedDiff(const std::vector<std::string>& from, const std::vector<std::string>& to,
                        const std::string& fromName, const std::string& toName) {
  if (from == to) return {};
  const bool small = (from.size() + 1) * (to.size() + 1) <= kMaxCells;
  const std::vector<Edit> edits = small ? EditScript(from, to) : FirstDifferenceScript(from, to);

  std::string out = "--- " + fromName + "\n+++ " + toName + "\n";
  std::size_t k = 0;
  while (k < edits.size()) {
    if (edits[k].op == ' ') {
      ++k;
      continue;
    }
    // A hunk: context before, changes joined while fewer than 2 * kContext equal lines part them.
    const std::size_t begin = k >= kContext ? k - kContext : 0;
    std::size_t end = k;
    while (end < edits.size()) {
      if (edits[end].op != ' ') {
        ++end;
        continue;
      }
      std::size_t run = end;
      while (run < edits.size() && edits[run].op == ' ') ++run;
      if (run == edits.size() || run - end > 2 * kContext) {
        end = std::min(run, end + kContext);
        break;
      }
      end = run;
    }
    std::size_t fromCount = 0;
    std::size_t toCount = 0;
    std::string body;
    for (std::size_t e = begin; e < end; ++e) {
      const Edit& edit = edits[e];
      if (edit.op != '+') ++fromCount;
      if (edit.op != '-') ++toCount;
      body += edit.op;
      body += edit.op == '+' ? to[edit.toLine] : from[edit.fromLine];
      body += '\n';
    }
    out += "@@ -" + Range(edits[begin].fromLine, fromCount) + " +" +
           Range(edits[begin].toLine, toCount) + " @@\n" + body;
    k = end;
  }
  return out;
}

}  // namespace pendant_sim
