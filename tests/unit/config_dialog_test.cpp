#include "settings/config_dialog.h"

#include <gtest/gtest.h>

#include <map>
#include <set>
#include <string>
#include <vector>

#include "host_windows/module.h"
#include "host_windows/show_config_dialog.h"
#include "platform/sim/sim_dialog.h"
#include "platform/sim/sim_sinks.h"
#include "settings/dialog_bindings.h"
#include "settings/pendant_settings_io.h"
#include "settings/profile_store.h"
#include "settings/settings_keys.h"
#include "support/fake_platform.h"

namespace {

constexpr const char* kNotInteger = "Please enter an integer.";

// The integer fields in the order OK must read them.
const std::vector<int> kIntegerReadingOrder = [] {
  std::vector<int> ids{4162, 4163, 4164, 4165, 4181, 4182};  // Macro1, Macro2, OEM1, OEM2, ...
  for (int first : {4198, 4216, 4225, 4234}) {               // Fp, C, Sp, Spd
    for (int i = 0; i < 9; ++i) ids.push_back(first + i);
  }
  for (int id : {4166, 4167, 4168, 4185}) ids.push_back(id);  // OEM3, OEM4, Macro3, Macro4
  return ids;
}();

PendantSettings Loaded() {
  PendantSettings s;
  s.StepJogRate = 100;
  s.DelaySteps = 25;
  s.Vel = 2;
  s.SlowDownRate = 2;
  s.ScreenSel = {1, 2, 3};
  s.S = {"0.0001", "0.001", "0.01", "0.1", "1", "0.254", "0", "0", "0"};
  s.F.fill("0");
  s.C = {1, 2, 5, 10, 20, 50, 100, 0, 0};
  return s;
}

// The bindings are built from key names; a key the key table does not know would silently lose
// its control.
TEST(ConfigDialog, EveryKeyHasItsControlsAndEveryIdIsUnique) {
  std::map<std::string, int> controlsPerKey;
  for (const DialogBinding& binding : DialogBindings()) ++controlsPerKey[binding.key->key];
  for (const SettingKey& key : SettingKeys()) {
    const bool pair = std::string(key.key) == "UseFRO" || std::string(key.key) == "UseSOV";
    EXPECT_EQ(controlsPerKey[key.key], pair ? 2 : 1) << key.key;
  }
  const auto ids = ConfigDialog::ControlIds();
  EXPECT_EQ(std::set<int>(ids.begin(), ids.end()).size(), 84u);
  EXPECT_EQ(DialogFieldsInReadingOrder().size(), 72u);  // all but the ten lists
}

TEST(ConfigDialog, ReadsIntegerFieldsInOrderAndStopsAtTheFirstFailure) {
  PendantSettings settings = Loaded();
  const PendantSettings before = settings;
  ConfigDialog dialog(settings);
  for (int id : kIntegerReadingOrder) ASSERT_TRUE(dialog.SetText(id, "x"));

  for (int expected : kIntegerReadingOrder) {
    auto refusal = dialog.Ok();
    ASSERT_TRUE(refusal.has_value());
    EXPECT_EQ(refusal->controlId, expected);
    EXPECT_EQ(refusal->message, kNotInteger);
    EXPECT_EQ(refusal->icon, DialogMessageIcon::None);
    EXPECT_TRUE(dialog.IsOpen());
    EXPECT_TRUE(settings == before) << "a refused OK changed field before " << expected;
    dialog.SetText(expected, "7");
  }
  EXPECT_FALSE(dialog.Ok().has_value());
  EXPECT_FALSE(dialog.IsOpen());
  EXPECT_EQ(settings.Macro[3], 7);
  EXPECT_EQ(settings.Spd[8], 7);
}

struct FieldCase {
  const char* name;
  int id;
  const char* text;
  const char* message;  // nullptr: accepted
};

TEST(ConfigDialog, FieldTextsAreParsedAndRangeChecked) {
  const FieldCase cases[] = {
      {"empty", 4216, "", kNotInteger},
      {"blank", 4182, "   ", kNotInteger},
      {"letters", 4198, "abc", kNotInteger},
      {"sign alone", 4181, "-", kNotInteger},
      {"Fp above", 4200, "251", "Please enter an integer between 0 and 250."},
      {"Fp below", 4198, "-1", "Please enter an integer between 0 and 250."},
      {"Fp top", 4206, "250", nullptr},
      {"C above", 4224, "101", "Please enter an integer between 0 and 100."},
      {"C top", 4220, "100", nullptr},
      {"Sp above", 4233, "300", "Please enter an integer between 0 and 250."},
      {"Spd has no range", 4234, "-99999", nullptr},
      {"trailing text", 4182, "12abc", nullptr},
      {"white space and sign", 4198, " \t+7", nullptr},
      {"DelaySteps beyond its advice", 4181, "500", nullptr},
      {"OEM beyond 16 bits", 4164, "70000", "Please enter an integer between -32768 and 32767."},
      {"Macro below 16 bits", 4185, "-32769", "Please enter an integer between -32768 and 32767."},
      {"OEM at 16-bit edge", 4167, "-32768", nullptr},
      {"32-bit overflow", 4182, "99999999999999999999",
       "Please enter an integer between -2147483648 and 2147483647."},
      {"texts take anything", 4171, "", nullptr},
  };
  for (const FieldCase& c : cases) {
    SCOPED_TRACE(c.name);
    PendantSettings settings = Loaded();
    ConfigDialog dialog(settings);
    ASSERT_TRUE(dialog.SetText(c.id, c.text));
    auto refusal = dialog.Ok();
    if (c.message == nullptr) {
      EXPECT_FALSE(refusal.has_value()) << refusal->message;
      continue;
    }
    ASSERT_TRUE(refusal.has_value());
    EXPECT_EQ(refusal->controlId, c.id);
    EXPECT_EQ(refusal->message, c.message);
    EXPECT_EQ(refusal->icon, std::string(c.message) == kNotInteger
                                 ? DialogMessageIcon::None
                                 : DialogMessageIcon::Exclamation);
  }
}

TEST(ConfigDialog, AcceptedValuesReachTheSettings) {
  PendantSettings settings = Loaded();
  ConfigDialog dialog(settings);
  dialog.SetText(4182, "12abc");
  dialog.SetText(4181, "500");
  dialog.SetText(4167, "-32768");
  dialog.SetText(4172, " 2,5 mm ");
  dialog.SetText(4234, "-99999");
  ASSERT_FALSE(dialog.Ok().has_value());
  EXPECT_EQ(settings.StepJogRate, 12);
  EXPECT_EQ(settings.DelaySteps, 500);
  EXPECT_EQ(settings.OEM[3], -32768);
  EXPECT_EQ(settings.S[1], " 2,5 mm ");
  EXPECT_EQ(settings.Spd[0], -99999);
}

TEST(ConfigDialog, SlowJogRatesOneToThreeAreAllReadBeforeTheirRangeTests) {
  struct Case {
    const char* c1;
    const char* c2;
    const char* c3;
    const char* c4;
    int expectedId;
    const char* message;
  };
  const Case cases[] = {
      {"101", "x", "1", "1", 4217, kNotInteger},  // C2 unreadable wins over C1's range
      {"101", "1", "", "1", 4218, kNotInteger},
      {"101", "1", "1", "x", 4216, "Please enter an integer between 0 and 100."},
      {"1", "101", "102", "1", 4217, "Please enter an integer between 0 and 100."},
  };
  for (const Case& c : cases) {
    PendantSettings settings = Loaded();
    ConfigDialog dialog(settings);
    dialog.SetText(4216, c.c1);
    dialog.SetText(4217, c.c2);
    dialog.SetText(4218, c.c3);
    dialog.SetText(4219, c.c4);
    auto refusal = dialog.Ok();
    ASSERT_TRUE(refusal.has_value());
    EXPECT_EQ(refusal->controlId, c.expectedId) << c.c1 << " " << c.c2 << " " << c.c3;
    EXPECT_EQ(refusal->message, c.message);
  }
}

TEST(ConfigDialog, ListsShowLabelsAndStoreIndexes) {
  PendantSettings settings = Loaded();
  settings.BUTTON = {0, 3, 70, -1, 65};
  settings.ScreenSel = {0, 6, 7};
  ConfigDialog dialog(settings);

  const auto velocity = dialog.Entries(4037);
  ASSERT_EQ(velocity.size(), 10u);
  for (std::size_t i = 0; i < velocity.size(); ++i) EXPECT_EQ(velocity[i], std::to_string(i + 1));
  EXPECT_EQ(dialog.Selection(4037), 2);
  EXPECT_EQ(std::vector<std::string>(dialog.Entries(4023).begin(), dialog.Entries(4023).end()),
            (std::vector<std::string>{"2", "3", "4"}));

  const auto screens = dialog.Entries(4032);
  ASSERT_EQ(screens.size(), 7u);
  EXPECT_EQ(screens[0], " NONE");
  EXPECT_EQ(screens[2], " Screen 2 (MDI screen)         ");
  EXPECT_EQ(dialog.Selection(4032), 0);
  EXPECT_EQ(dialog.Selection(4033), 6);
  EXPECT_EQ(dialog.Selection(4034), -1);

  // F1..F5 are lists 4040, 4041, 4043, 4042, 4044.
  ASSERT_EQ(dialog.Entries(4040).size(), 66u);
  EXPECT_EQ(dialog.Entries(4040)[0], " NONE");
  EXPECT_EQ(dialog.Selection(4041), 3);
  EXPECT_EQ(dialog.Selection(4043), -1);
  EXPECT_EQ(dialog.Selection(4042), -1);
  EXPECT_EQ(dialog.Selection(4044), 65);

  EXPECT_TRUE(dialog.Select(4037, 9));
  EXPECT_TRUE(dialog.Select(4023, 3));  // outside: no selection
  ASSERT_FALSE(dialog.Ok().has_value());
  EXPECT_EQ(settings.Vel, 9);
  EXPECT_EQ(settings.SlowDownRate, -1);
  EXPECT_EQ(settings.BUTTON, (std::array<std::int16_t, 5>{0, 3, -1, -1, 65}));
  EXPECT_EQ(settings.ScreenSel, (std::array<std::int16_t, 3>{0, 6, -1}));
}

TEST(ConfigDialog, OptionPairsAndCheckBoxesRoundTrip) {
  struct Case {
    int id;  // the control that is marked
    std::uint8_t PendantSettings::*field;
    std::uint8_t expected;
  };
  const Case cases[] = {
      {4035, &PendantSettings::UseFRO, 1},      {4161, &PendantSettings::UseFRO, 0},
      {4159, &PendantSettings::UseSOV, 1},      {4036, &PendantSettings::UseSOV, 0},
      {4180, &PendantSettings::SelectAAxis, 1}, {4243, &PendantSettings::SelectBAxis, 1},
      {4244, &PendantSettings::SelectCAxis, 1}, {4245, &PendantSettings::Xreverse, 1},
      {4246, &PendantSettings::Yreverse, 1},    {4247, &PendantSettings::Zreverse, 1},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.id);
    PendantSettings settings = Loaded();
    settings.UseFRO = settings.UseSOV = 1 - c.expected;  // the opposite choice to start from
    ConfigDialog dialog(settings);
    ASSERT_TRUE(dialog.SetCheck(c.id, true));
    ASSERT_FALSE(dialog.Ok().has_value());
    EXPECT_EQ(settings.*c.field, c.expected);

    // Opening again shows what was stored.
    ConfigDialog reopened(settings);
    EXPECT_TRUE(reopened.Checked(c.id));
  }
  PendantSettings settings = Loaded();
  settings.UseFRO = 1;
  ConfigDialog dialog(settings);
  EXPECT_TRUE(dialog.Checked(4035));
  EXPECT_FALSE(dialog.Checked(4161));
  EXPECT_FALSE(dialog.SetCheck(4182, true)) << "an edit is no check box";
}

TEST(ConfigDialog, EscTakesNothing) {
  PendantSettings settings = Loaded();
  const PendantSettings before = settings;
  ConfigDialog dialog(settings);
  dialog.SetText(4182, "5");
  dialog.Select(4037, 0);
  dialog.Esc();
  EXPECT_FALSE(dialog.IsOpen());
  EXPECT_FALSE(dialog.Ok().has_value());
  EXPECT_TRUE(settings == before);
}

TEST(ShowConfigDialog, WritesTheLoadedValuesBackAfterEsc) {
  FakePlatform platform;
  Module module(platform);
  module.profilePath = "/p/profile.xml";
  platform.files.files[module.profilePath] =
      "<profile><Talvik_Q5_Pendant><StepJogRate>55</StepJogRate><Fp3>7</Fp3>"
      "</Talvik_Q5_Pendant></profile>";
  bool ran = false;
  platform.dialogScript = [&](ConfigDialog& dialog) {
    ran = true;
    EXPECT_EQ(dialog.Text(4182), "55");
    EXPECT_EQ(dialog.Selection(4037), 2);  // Vel missing: 2
    dialog.SetText(4200, "251");
    EXPECT_TRUE(dialog.Ok().has_value());
    dialog.Esc();
  };
  {
    ProfileStore store(module.profilePath, platform.files);
    ShowConfigDialog(module, store);
  }
  EXPECT_TRUE(ran);
  EXPECT_EQ(module.settings.Fp[2], 7);

  PendantSettings reread;
  ProfileStore store(module.profilePath, platform.files);
  LoadSettings(store, reread, 0);
  EXPECT_EQ(reread.Vel, 2);
  EXPECT_EQ(reread.StepJogRate, 55);
  EXPECT_EQ(reread.Fp[2], 7);
  EXPECT_EQ(reread.C[6], 100);
}

TEST(ShowConfigDialog, OkChangesTheProfile) {
  FakePlatform platform;
  Module module(platform);
  module.profilePath = "/p/profile.xml";
  platform.dialogScript = [](ConfigDialog& dialog) {
    dialog.SetText(4164, "813");
    dialog.Select(4040, 2);
    EXPECT_FALSE(dialog.Ok().has_value());
  };
  {
    ProfileStore store(module.profilePath, platform.files);
    ShowConfigDialog(module, store);
  }
  PendantSettings reread;
  ProfileStore store(module.profilePath, platform.files);
  LoadSettings(store, reread, 0);
  EXPECT_EQ(reread.OEM[0], 813);
  EXPECT_EQ(reread.BUTTON[0], 2);
}

std::vector<std::string> shownMessages;

TEST(SimConfigDialog, PlaysTheScriptOnceAndShowsRefusals) {
  shownMessages.clear();
  SimSinksSetMessageBox([](const char* text) { shownMessages.emplace_back(text); });
  PendantSettings settings = Loaded();
  QueueSimDialogText(4200, "251");
  QueueSimDialogCheck(4035, 1);
  QueueSimDialogPress(1);
  QueueSimDialogText(4200, "250");
  QueueSimDialogSelect(4037, 9);
  QueueSimDialogPress(1);
  QueueSimDialogText(4182, "1");  // after the dialog closed: dropped
  {
    ConfigDialog dialog(settings);
    RunSimConfigDialog(dialog);
    EXPECT_FALSE(dialog.IsOpen());
  }
  EXPECT_EQ(shownMessages,
            (std::vector<std::string>{"Please enter an integer between 0 and 250."}));
  EXPECT_EQ(settings.Fp[2], 250);
  EXPECT_EQ(settings.UseFRO, 1);
  EXPECT_EQ(settings.Vel, 9);
  EXPECT_EQ(settings.StepJogRate, 100);

  // The script was consumed, the dropped action included; a cleared script plays nothing.
  for (bool clear : {false, true}) {
    if (clear) {
      QueueSimDialogText(4182, "7");
      ClearSimDialogScript();
    }
    ConfigDialog next(settings);
    RunSimConfigDialog(next);
    EXPECT_FALSE(next.IsOpen());
    EXPECT_EQ(next.Text(4182), "100");
  }

  // A script that ends with the dialog open leaves it with Esc, taking nothing.
  QueueSimDialogText(4182, "8");
  ConfigDialog open(settings);
  RunSimConfigDialog(open);
  EXPECT_FALSE(open.IsOpen());
  EXPECT_EQ(settings.StepJogRate, 100);
  SimSinksClear();
}

}  // namespace
