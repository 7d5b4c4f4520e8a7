// The dialog's status area: what it says of the link and how it reads a decoded report.
#include "link/pendant_view.h"

#include <gtest/gtest.h>

#include <array>
#include <cstdint>
#include <string>

#include "support/pendant_fixture.h"

namespace {

using Report = std::array<std::uint8_t, 8>;

TEST(PendantView, StatusAreaNamesTheLinkAndWhatThePendantReports) {
  struct Case {
    const char* name;
    bool window;
    bool connected;
    bool awaitingReport;
    Report report;
    const char* status;
    const char* liveView;
  };
  const Case cases[] = {
      {"no window", false, false, false, {}, kNoPendantText, ""},
      {"not connected", true, false, false, {0, 9, 0, 0x01, 0, 0, 0, 0}, kNoPendantText, ""},
      {"reopened, no report yet",
       true,
       true,
       true,
       {0, 9, 0, 0x01, 0, 0, 0, 0},
       kPendantConnectedText,
       kAwaitingReportText},
      {"at rest",
       true,
       true,
       false,
       {},
       kPendantConnectedText,
       "Held: none   Wheel: 0   Safety input: off"},
      {"every key and button, mode 3",
       true,
       true,
       false,
       {0, 255, 7, 0xFF, 0xFB, 0, 0, 0},
       kPendantConnectedText,
       "Held: Key1 Key2 Key3 EN X/A Y/B Z/C F1 F2 F3 F4 F5 Mode3   Wheel: 255   "
       "Safety input: active"},
      {"unused bits show nothing",
       true,
       true,
       false,
       {0xFF, 17, 0, 0, 0x04, 0xFF, 0xFF, 0xFF},
       kPendantConnectedText,
       "Held: none   Wheel: 17   Safety input: off"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    PendantFixture f;
    f.Decode(c.report);
    f.host.Take();
    const PendantLinkState link{c.connected, c.awaitingReport,
                                input_report::Words::Of(f.win->DecodedReport())};
    const DialogStatusArea area = c.window
                                      ? PendantStatusArea(link)
                                      : PendantStatusArea(static_cast<const PendantLink*>(nullptr));
    EXPECT_EQ(area.connected, c.window && c.connected);
    EXPECT_EQ(area.status, c.status);
    EXPECT_EQ(area.liveView, c.liveView);
  }
}

}  // namespace
