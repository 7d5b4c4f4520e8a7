// File access and text conversion for the profile, provided by the platform.
#pragma once

#include <string>

class ProfileFiles {
 public:
  virtual ~ProfileFiles() = default;

  enum class ReadResult { Ok, Missing, Failed };
  virtual ReadResult ReadAll(const std::string& path, std::string& bytes) = 0;

  // Writes `bytes` to a temporary file beside `path`, flushes it and only then replaces `path`,
  // so a failure or crash mid-save leaves the old file intact. False when nothing was replaced.
  virtual bool ReplaceAll(const std::string& path, const std::string& bytes) = 0;

  // Texts between the document (UTF-8 inside the XML library) and the settings' code page.
  virtual std::string ToDocument(const std::string& text) = 0;
  virtual std::string FromDocument(const std::string& text) = 0;
};
