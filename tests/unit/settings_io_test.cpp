#include <gtest/gtest.h>

#include <pugixml.hpp>
#include <string>
#include <vector>

#include "settings/pendant_settings.h"
#include "settings/pendant_settings_io.h"
#include "settings/profile_store.h"
#include "settings/settings_keys.h"
#include "support/fake_platform.h"

namespace {

constexpr const char* kPath = "/host/profile.xml";

// The order the host's profile has always used; a table slip changes what the dialog writes.
const char* const kKeyOrder[] = {
    "BUTTON0",     "BUTTON1",     "BUTTON2",     "BUTTON3",    "BUTTON4",      "Vel",
    "Macro1",      "Macro2",      "Macro3",      "Macro4",     "OEM1",         "OEM2",
    "OEM3",        "OEM4",        "StepJogRate", "DelaySteps", "SlowDownRate", "ScreenSel1",
    "ScreenSel2",  "ScreenSel3",  "S1",          "S2",         "S3",           "S4",
    "S5",          "S6",          "S7",          "S8",         "S9",           "Fp1",
    "Fp2",         "Fp3",         "Fp4",         "Fp5",        "Fp6",          "Fp7",
    "Fp8",         "Fp9",         "F1",          "F2",         "F3",           "F4",
    "F5",          "F6",          "F7",          "F8",         "F9",           "C1",
    "C2",          "C3",          "C4",          "C5",         "C6",           "C7",
    "C8",          "C9",          "Sp1",         "Sp2",        "Sp3",          "Sp4",
    "Sp5",         "Sp6",         "Sp7",         "Sp8",        "Sp9",          "Spd1",
    "Spd2",        "Spd3",        "Spd4",        "Spd5",       "Spd6",         "Spd7",
    "Spd8",        "Spd9",        "Xreverse",    "Yreverse",   "Zreverse",     "SelectAAxis",
    "SelectBAxis", "SelectCAxis", "UseFRO",      "UseSOV",
};

class SettingsIoTest : public ::testing::Test {
 protected:
  void Profile(const std::string& sectionBody) {
    files.files[kPath] = std::string("<profile><") + kSettingsSection + ">" + sectionBody + "</" +
                         kSettingsSection + "></profile>";
  }
  // PostInitControl's work.
  PendantSettings Load(std::int16_t velDefault = 0) {
    PendantSettings settings;
    ProfileStore store(kPath, files);
    LoadSettings(store, settings, velDefault);
    return settings;
  }
  // Config closed with Esc: load with Vel defaulting to 2, save everything back.
  PendantSettings LoadAndSave() {
    PendantSettings settings;
    ProfileStore store(kPath, files);
    LoadSettings(store, settings, 2);
    SaveSettings(store, settings);
    return settings;
  }
  std::vector<std::pair<std::string, std::string>> SectionKeys() {
    pugi::xml_document doc;
    EXPECT_TRUE(doc.load_string(files.files[kPath].c_str()));
    std::vector<std::pair<std::string, std::string>> keys;
    for (pugi::xml_node key : doc.document_element().child(kSettingsSection).children()) {
      if (key.type() == pugi::node_element) keys.emplace_back(key.name(), key.child_value());
    }
    return keys;
  }

  MemoryProfileFiles files;
};

TEST_F(SettingsIoTest, TableHoldsTheKeysInProfileOrderAndFindsThem) {
  const auto keys = SettingKeys();
  ASSERT_EQ(keys.size(), std::size(kKeyOrder));
  for (std::size_t i = 0; i < keys.size(); ++i) {
    EXPECT_STREQ(keys[i].key, kKeyOrder[i]);
    EXPECT_EQ(FindSettingKey(kKeyOrder[i]), &keys[i]);
    EXPECT_EQ(keys[i].type == SettingType::Text, keys[i].defaultText != nullptr) << keys[i].key;
  }
  EXPECT_EQ(FindSettingKey("BUTTON5"), nullptr);
  EXPECT_EQ(FindSettingKey(nullptr), nullptr);
}

TEST_F(SettingsIoTest, MissingSectionLoadsEveryDefault) {
  files.files[kPath] = "<profile/>";
  PendantSettings expected;
  expected.StepJogRate = 100;
  expected.DelaySteps = 25;
  expected.SlowDownRate = 2;
  expected.ScreenSel = {1, 2, 3};
  expected.S = {"0.0001", "0.001", "0.01", "0.1", "1", "0.254", "0", "0", "0"};
  expected.F = {"0", "0", "0", "0", "0", "0", "0", "0", "0"};
  expected.C = {1, 2, 5, 10, 20, 50, 100, 0, 0};

  for (std::int16_t vel : {0, 2}) {
    PendantSettings loaded;
    // Every field starts off its default, so a key the load skips shows up.
    loaded.BUTTON.fill(-9);
    loaded.Fp.fill(-9);
    loaded.Spd.fill(-9);
    loaded.Xreverse = loaded.UseSOV = 7;
    {
      ProfileStore store(kPath, files);
      LoadSettings(store, loaded, vel);
    }
    expected.Vel = vel;
    for (const SettingKey& key : SettingKeys()) {
      if (key.type == SettingType::Text) {
        EXPECT_EQ(key.constText(loaded), key.constText(expected)) << key.key;
      } else {
        EXPECT_EQ(key.getInt(loaded), key.getInt(expected)) << key.key << " vel " << vel;
      }
    }
  }
  EXPECT_EQ(files.files[kPath], "<profile/>");
}

TEST_F(SettingsIoTest, EscFromConfigWritesAllKeysInOrderWithVelTwo) {
  files.files[kPath] = "<profile><Other>1</Other></profile>";
  LoadAndSave();
  const auto keys = SectionKeys();
  ASSERT_EQ(keys.size(), std::size(kKeyOrder));
  for (std::size_t i = 0; i < keys.size(); ++i) EXPECT_EQ(keys[i].first, kKeyOrder[i]);
  EXPECT_EQ(keys[5].second, "2");       // Vel
  EXPECT_EQ(keys[14].second, "100");    // StepJogRate
  EXPECT_EQ(keys[25].second, "0.254");  // S6
  EXPECT_EQ(keys[53].second, "100");    // C7
  EXPECT_EQ(keys.back().second, "0");   // UseSOV
  pugi::xml_document doc;
  doc.load_string(files.files[kPath].c_str());
  EXPECT_STREQ(doc.document_element().last_child().name(), kSettingsSection);
}

TEST_F(SettingsIoTest, ValuesAreCutToTheirTypeAndWrittenBackCut) {
  struct Case {
    const char* key;
    const char* stored;
    std::int32_t loaded;
    const char* written;
  } cases[] = {
      {"BUTTON0", "65539", 3, "3"},
      {"BUTTON1", "-1", -1, "-1"},
      {"Vel", "32768", -32768, "-32768"},
      {"OEM4", "-65536", 0, "0"},
      {"StepJogRate", "0", 0, "0"},
      {"DelaySteps", "70000", 70000, "70000"},
      {"Fp1", "abc", 0, "0"},
      {"Fp2", "12x", 12, "12"},
      {"Fp3", "-7", -7, "-7"},
      {"Xreverse", "5", 1, "1"},
      {"Yreverse", "-1", 1, "1"},
      {"Zreverse", "0", 0, "0"},
      {"UseFRO", "256", 1, "1"},
  };
  std::string body;
  for (const Case& c : cases)
    body += std::string("<") + c.key + ">" + c.stored + "</" + c.key + ">";
  Profile(body);
  const PendantSettings loaded = LoadAndSave();
  const auto keys = SectionKeys();
  for (const Case& c : cases) {
    EXPECT_EQ(FindSettingKey(c.key)->getInt(loaded), c.loaded) << c.key;
    bool found = false;
    for (const auto& [name, value] : keys) {
      if (name == c.key) {
        EXPECT_EQ(value, c.written) << c.key;
        found = true;
      }
    }
    EXPECT_TRUE(found) << c.key;
  }
}

TEST_F(SettingsIoTest, TextsKeptAsTypedAndEmptyKeyRemovedByLoad) {
  Profile("<S1></S1><S2> 0.5 </S2><F1>12.5abc</F1>");
  const PendantSettings loaded = Load();
  EXPECT_EQ(loaded.S[0], "0.0001");
  EXPECT_EQ(loaded.S[1], " 0.5 ");
  EXPECT_EQ(loaded.F[0], "12.5abc");
  EXPECT_EQ(files.files[kPath], std::string("<profile><") + kSettingsSection +
                                    "><S2> 0.5 </S2><F1>12.5abc</F1></" + kSettingsSection +
                                    "></profile>");
}

TEST_F(SettingsIoTest, PendantSearchRunsBetweenButtonKeysAndVel) {
  Profile("<BUTTON4>7</BUTTON4><Vel>5</Vel>");
  PendantSettings settings;
  settings.Vel = -3;
  int calls = 0;
  ProfileStore store(kPath, files);
  LoadSettings(store, settings, 0, [&] {
    ++calls;
    EXPECT_EQ(settings.BUTTON[4], 7);
    EXPECT_EQ(settings.Vel, -3);
  });
  EXPECT_EQ(calls, 1);
  EXPECT_EQ(settings.Vel, 5);
}

}  // namespace
