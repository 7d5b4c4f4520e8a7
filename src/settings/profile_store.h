// ProfileStore: the accessor over the host's XML profile, opened and released within one host call.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

class ProfileFiles;

class ProfileStore {
 public:
  // OpenProfile.
  ProfileStore(const std::string& path, ProfileFiles& files);
  // CloseProfile: saves the document (unless its load failed) and releases it.
  ~ProfileStore();
  ProfileStore(const ProfileStore&) = delete;
  ProfileStore& operator=(const ProfileStore&) = delete;

  std::int32_t ReadInt(const char* section, const char* key, std::int32_t defaultValue);
  std::string ReadString(const char* section, const char* key, const std::string& defaultValue);
  void WriteInt(const char* section, const char* key, std::int32_t value);
  void WriteString(const char* section, const char* key, const std::string& value);
  // Saves now; the destructor then saves no more. False when the file was not written because
  // of a failure; true also when the file already held exactly what the store would write.
  bool CloseProfile();
  // Why the last CloseProfile did not save, as a sentence for the operator; empty when it saved
  // or when there was no profile to save to (no path).
  const std::string& SaveFailure() const;

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
};
