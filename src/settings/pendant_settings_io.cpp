#include "settings/pendant_settings_io.h"

#include <cstring>

#include "settings/profile_store.h"
#include "settings/settings_keys.h"

void LoadSettings(ProfileStore& store, PendantSettings& settings, std::int16_t velDefault,
                  const std::function<void()>& afterButtonKeys) {
  for (const SettingKey& entry : SettingKeys()) {
    const bool isVel = std::strcmp(entry.key, kVelKey) == 0;
    // The pendant is searched for after the button keys, before anything else is read.
    if (isVel && afterButtonKeys) afterButtonKeys();
    switch (entry.type) {
      case SettingType::Int16:
      case SettingType::Int32:
        entry.setInt(settings, store.ReadInt(kSettingsSection, entry.key,
                                             isVel ? velDefault : entry.defaultInt));
        break;
      case SettingType::Bool:
        entry.setInt(settings, store.ReadInt(kSettingsSection, entry.key, 0));
        break;
      case SettingType::Text:
        entry.text(settings) = store.ReadString(kSettingsSection, entry.key, entry.defaultText);
        break;
    }
  }
}

void SaveSettings(ProfileStore& store, const PendantSettings& settings) {
  for (const SettingKey& entry : SettingKeys()) {
    switch (entry.type) {
      case SettingType::Int16:
      case SettingType::Int32:
        store.WriteInt(kSettingsSection, entry.key, entry.getInt(settings));
        break;
      case SettingType::Bool:
        store.WriteInt(kSettingsSection, entry.key, entry.getInt(settings) != 0 ? 1 : 0);
        break;
      case SettingType::Text:
        store.WriteString(kSettingsSection, entry.key, entry.constText(settings));
        break;
    }
  }
}
