#include "host_windows/show_config_dialog.h"

#include <string>
#include <utility>

#include "host_windows/module.h"
#include "settings/pendant_settings_io.h"
#include "settings/profile_store.h"

void ShowConfigDialog(Module& module, ProfileStore& store, DialogStatusSource statusSource) {
  LoadSettings(store, module.settings, 2);
  try {
    ConfigDialog dialog(module.settings);
    dialog.SetStatusSource(std::move(statusSource));
    module.windowsPlatform.RunConfigDialog(dialog);
  } catch (...) {
    // The profile is written back however the dialog ended.
  }
  SaveSettings(store, module.settings);
  // The operator pressed OK or Esc expecting the settings to be kept: a failed save must say so.
  if (!store.CloseProfile() && !store.SaveFailure().empty()) {
    module.windowsPlatform.ShowMessage(std::string(kSettingsNotSavedMessage) + store.SaveFailure());
  }
}
