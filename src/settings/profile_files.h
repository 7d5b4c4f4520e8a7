// File access and text conversion for the profile, provided by the platform.
#pragma once

#include <string>

class ProfileFiles {
 public:
  virtual ~ProfileFiles() = default;

  // Failed also covers paths that are not regular files (a folder, a pipe, a device): reading one
  // could block or never end, and the store must not write over it. NoFolder: the file is not
  // there because its folder is not, so it cannot be created either.
  enum class ReadResult { Ok, Missing, NoFolder, Failed };
  virtual ReadResult ReadAll(const std::string& path, std::string& bytes) = 0;

  enum class WriteResult {
    Ok,
    ReadOnly,  // the operator protected the profile: it is not replaced
    NotAFile,  // the path names a folder, pipe or device
    Failed,
  };
  // Writes `bytes` to the one temporary file beside `path`, flushes it and only then replaces
  // `path`, so a failure or crash mid-save leaves the old file intact. A temporary file left by a
  // crash is reused and thereby removed. Anything but Ok: the profile was not replaced.
  virtual WriteResult ReplaceAll(const std::string& path, const std::string& bytes) = 0;

  // Texts between the document (UTF-8 inside the XML library) and the settings' code page.
  virtual std::string ToDocument(const std::string& text) = 0;
  virtual std::string FromDocument(const std::string& text) = 0;
};
