#include "platform/win32/win32_profile_files.h"

#include <windows.h>

#include <climits>
#include <cstddef>

namespace {

std::string FullPath(const std::string& path) {
  char small[MAX_PATH];
  DWORD n = GetFullPathNameA(path.c_str(), MAX_PATH, small, nullptr);
  if (n == 0) return {};
  if (n < MAX_PATH) return std::string(small, n);
  std::string large(n, '\0');
  DWORD m = GetFullPathNameA(path.c_str(), n, large.data(), nullptr);
  if (m == 0 || m >= n) return {};
  large.resize(m);
  return large;
}

bool WriteFully(HANDLE file, const std::string& bytes) {
  std::size_t done = 0;
  while (done < bytes.size()) {
    std::size_t chunk = bytes.size() - done;
    if (chunk > 0x10000000u) chunk = 0x10000000u;
    DWORD written = 0;
    if (!WriteFile(file, bytes.data() + done, static_cast<DWORD>(chunk), &written, nullptr) ||
        written == 0) {
      return false;
    }
    done += written;
  }
  return true;
}

// `from` -> UTF-16 -> `to`; an empty result for text that does not convert.
std::string Convert(const std::string& text, UINT from, UINT to) {
  if (text.empty() || text.size() > static_cast<std::size_t>(INT_MAX)) return {};
  const int inLength = static_cast<int>(text.size());
  int wide = MultiByteToWideChar(from, 0, text.data(), inLength, nullptr, 0);
  if (wide <= 0) return {};
  std::wstring utf16(static_cast<std::size_t>(wide), L'\0');
  if (MultiByteToWideChar(from, 0, text.data(), inLength, utf16.data(), wide) != wide) return {};
  int narrow = WideCharToMultiByte(to, 0, utf16.data(), wide, nullptr, 0, nullptr, nullptr);
  if (narrow <= 0) return {};
  std::string out(static_cast<std::size_t>(narrow), '\0');
  if (WideCharToMultiByte(to, 0, utf16.data(), wide, out.data(), narrow, nullptr, nullptr) !=
      narrow) {
    return {};
  }
  return out;
}

}  // namespace

ProfileFiles::ReadResult Win32ProfileFiles::ReadAll(const std::string& path, std::string& bytes) {
  bytes.clear();
  if (path.empty()) return ReadResult::Missing;
  HANDLE file = CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                            OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) {
    const DWORD error = GetLastError();
    if (error == ERROR_FILE_NOT_FOUND) return ReadResult::Missing;
    if (error == ERROR_PATH_NOT_FOUND) return ReadResult::NoFolder;
    return ReadResult::Failed;
  }
  // A device or pipe given as the profile path could block the host's thread for ever.
  if (GetFileType(file) != FILE_TYPE_DISK) {
    CloseHandle(file);
    return ReadResult::Failed;
  }
  LARGE_INTEGER size{};
  if (GetFileSizeEx(file, &size) && size.QuadPart > 0 && size.QuadPart < 0x40000000) {
    bytes.reserve(static_cast<std::size_t>(size.QuadPart));
  }
  char buffer[65536];
  for (;;) {
    DWORD got = 0;
    if (!ReadFile(file, buffer, sizeof buffer, &got, nullptr)) {
      CloseHandle(file);
      bytes.clear();
      return ReadResult::Failed;
    }
    if (got == 0) break;
    bytes.append(buffer, got);
  }
  CloseHandle(file);
  return ReadResult::Ok;
}

std::string Win32TemporaryPath(const std::string& target) {
  return target + ".pendant.tmp";
}

ProfileFiles::WriteResult Win32ProfileFiles::ReplaceAll(const std::string& path,
                                                        const std::string& bytes) {
  if (path.empty()) return WriteResult::Failed;
  // Wine's and Windows' replacement calls want a folder part; an absolute path always has one.
  const std::string target = FullPath(path);
  if (target.empty()) return WriteResult::Failed;
  const DWORD attributes = GetFileAttributesA(target.c_str());
  const bool exists = attributes != INVALID_FILE_ATTRIBUTES;
  if (exists && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0) return WriteResult::NotAFile;
  // The operator protected the profile: a replacement would drop the protection with the file.
  if (exists && (attributes & FILE_ATTRIBUTE_READONLY) != 0) return WriteResult::ReadOnly;

  // One well-known name: a save that was killed leaves at most this file, and the next save
  // truncates and reuses it. Opened without sharing, so two saves never write into it at once.
  const std::string temp = Win32TemporaryPath(target);
  HANDLE file = CreateFileA(temp.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                            FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return WriteResult::Failed;
  bool ok = WriteFully(file, bytes) && FlushFileBuffers(file);
  ok = CloseHandle(file) && ok;
  if (!ok) {
    DeleteFileA(temp.c_str());
    return WriteResult::Failed;
  }

  if (exists) {
    if (ReplaceFileA(target.c_str(), temp.c_str(), nullptr, REPLACEFILE_IGNORE_MERGE_ERRORS,
                     nullptr, nullptr)) {
      return WriteResult::Ok;
    }
    // The target is gone and the data is still in the temporary file: move it into place.
    if (GetLastError() != ERROR_UNABLE_TO_MOVE_REPLACEMENT) {
      DeleteFileA(temp.c_str());
      return WriteResult::Failed;
    }
  }
  if (MoveFileExA(temp.c_str(), target.c_str(),
                  MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
    return WriteResult::Ok;
  }
  DeleteFileA(temp.c_str());
  return WriteResult::Failed;
}

std::string Win32ProfileFiles::ToDocument(const std::string& text) {
  return Convert(text, CP_ACP, CP_UTF8);
}

std::string Win32ProfileFiles::FromDocument(const std::string& text) {
  return Convert(text, CP_UTF8, CP_ACP);
}

ProfileFiles& Win32ProfileFilesInstance() {
  static Win32ProfileFiles instance;
  return instance;
}
