// Profile file access on a POSIX file system: whole-file reads, replacement by rename.
#pragma once

#include "settings/profile_files.h"

class PosixProfileFiles final : public ProfileFiles {
 public:
  // Only regular files are read; a pipe or device is refused before it is opened.
  ReadResult ReadAll(const std::string& path, std::string& bytes) override;
  // Writes "<target>.pendant.tmp" beside the target (the file at the end of any symbolic links,
  // which stay links), syncs it, renames it over the target and syncs the folder. The temporary
  // file is locked while in use, so two saves never write into it at once. On failure it is
  // removed and the target is untouched; a read-only target is refused.
  WriteResult ReplaceAll(const std::string& path, const std::string& bytes) override;
  // Settings texts are UTF-8 already.
  std::string ToDocument(const std::string& text) override { return text; }
  std::string FromDocument(const std::string& text) override { return text; }
};

// The temporary file ReplaceAll uses for `target`.
std::string PosixTemporaryPath(const std::string& target);

ProfileFiles& PosixProfileFilesInstance();
