// Profile file access on Windows: whole-file reads, replacement through a flushed temporary file,
// and conversion between the ANSI code page and the document's UTF-8.
#pragma once

#include "settings/profile_files.h"

class Win32ProfileFiles final : public ProfileFiles {
 public:
  ReadResult ReadAll(const std::string& path, std::string& bytes) override;
  bool ReplaceAll(const std::string& path, const std::string& bytes) override;
  std::string ToDocument(const std::string& text) override;
  std::string FromDocument(const std::string& text) override;
};

ProfileFiles& Win32ProfileFilesInstance();
