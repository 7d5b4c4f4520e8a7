// The configuration dialog's portable model and ShowConfigDialog.
#pragma once

struct Module;
class ProfileStore;

class ConfigDialog;

// Loads the settings (Vel defaulting to 2), runs the dialog, saves every setting whatever happened.
void ShowConfigDialog(Module& module, ProfileStore& store);
