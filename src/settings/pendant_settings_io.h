// Loading and saving PendantSettings, driven by the one table of the 82 keys.
#pragma once

#include <cstdint>
#include <functional>

#include "settings/pendant_settings.h"

class ProfileStore;

inline constexpr const char* kSettingsSection = "Talvik_Q5_Pendant";

// Reads all keys in the fixed order; `afterButtonKeys` runs between the BUTTON keys and Vel.
void LoadSettings(ProfileStore& store, PendantSettings& settings, std::int16_t velDefault,
                  const std::function<void()>& afterButtonKeys = {});
void SaveSettings(ProfileStore& store, const PendantSettings& settings);
