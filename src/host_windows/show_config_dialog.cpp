#include "host_windows/show_config_dialog.h"

#include <string>
#include <utility>

#include "core/core.h"
#include "core/platform.h"
#include "settings/pendant_settings_io.h"
#include "settings/profile_store.h"

void ShowConfigDialog(Core& core, ProfileStore& store, DialogStatusSource statusSource) {
  LoadSettings(store, core.settings, 2);
  try {
    ConfigDialog dialog(core.settings);
    dialog.SetStatusSource(std::move(statusSource));
    core.platform.RunConfigDialog(dialog);
  } catch (...) {
    // The profile is written back however the dialog ended.
  }
  SaveSettings(store, core.settings);
  // The operator pressed OK or Esc expecting the settings to be kept: a failed save must say so.
  if (!store.CloseProfile() && !store.SaveFailure().empty()) {
    core.platform.ShowMessage(std::string(kSettingsNotSavedMessage) + store.SaveFailure());
  }
}
