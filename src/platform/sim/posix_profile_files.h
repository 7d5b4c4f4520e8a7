// Profile file access on a POSIX file system: whole-file reads, replacement by rename.
#pragma once

#include "settings/profile_files.h"

class PosixProfileFiles final : public ProfileFiles {
 public:
  ReadResult ReadAll(const std::string& path, std::string& bytes) override;
  // Writes "<path>.tmp-<pid>" beside the target, syncs it, renames it over the target and syncs
  // the folder. On failure the temporary file is removed and the target is untouched.
  bool ReplaceAll(const std::string& path, const std::string& bytes) override;
  // Settings texts are UTF-8 already.
  std::string ToDocument(const std::string& text) override { return text; }
  std::string FromDocument(const std::string& text) override { return text; }
};

ProfileFiles& PosixProfileFilesInstance();
