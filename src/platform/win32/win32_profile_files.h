// Profile file access on Windows: whole-file reads, replacement through a flushed temporary file,
// and conversion between the ANSI code page and the document's UTF-8.
#pragma once

#include "settings/profile_files.h"

class Win32ProfileFiles final : public ProfileFiles {
 public:
  ReadResult ReadAll(const std::string& path, std::string& bytes) override;
  // Refuses a read-only target; writes "<target>.pendant.tmp", then ReplaceFileA / MoveFileExA.
  WriteResult ReplaceAll(const std::string& path, const std::string& bytes) override;
  std::string ToDocument(const std::string& text) override;
  std::string FromDocument(const std::string& text) override;
};

// The temporary file ReplaceAll uses for the full path `target`.
std::string Win32TemporaryPath(const std::string& target);

ProfileFiles& Win32ProfileFilesInstance();
