#include "settings/lists.h"

#include <cstdint>

#include "text/ascii.h"

// Entry 52 ends in three tabs and seven blanks where its neighbours pad with blanks only.
const std::array<const char*, kButtonActionCount> kButtonActionList = {
    "0, NONE",
    "899  , ------------------------------ ",
    "813, OEM Button #1",
    "814, OEM Button #2",
    "815, OEM Button #3",
    "816, OEM Button #4",
    "817, Custom Macro #1",
    "818, Custom Macro #2",
    "819, Custom Macro #3",
    "820, Custom Macro #4",
    "899  , ------------------------------ ",
    "1    , Screen 1 (Program Run screen)   ",
    "2    , Screen 2 (MDI screen)           ",
    "3    , screen 3 (Toolpath screen)      ",
    "4    , screen 4 (Positioning screen)   ",
    "5    , screen 5 (Diagnostics screen)   ",
    "6    , screen 6 ( Corrections screen)  ",
    "7    , screen 7 (Tables screen)        ",
    "323  , Toggle visibility of TAB screen ",
    "160  , Regen toolpath display          ",
    "899  , ------------------------------ ",
    "113  , Flood toggle                   ",
    "114  , Mist toggle                    ",
    "899  , ------------------------------ ",
    "178  , Offline toggle                  ",
    "103  , Jog ON and OFF toggle           ",
    "1029 , Softlimits Toggle               ",
    "172  , Clear error label               ",
    "167  , Z inhibit toggle                ",
    "899  , ------------------------------ ",
    "106  , mm/inch",
    "256  , Machine Coordinates toggle      ",
    "333  , Toggle Dist to Go               ",
    "899  , ------------------------------ ",
    "171  , Jog increment cycle             ",
    "191  , Select Jog Increment 1          ",
    "192  , Select Jog Increment 2          ",
    "245  , Jog mode STEP CONT MPG toggle   ",
    "899  , ------------------------------ ",
    "250  , Disable movement on axis X      ",
    "251  , Disable movement on axis Y      ",
    "252  , Disable movement on axis Z      ",
    "253  , Disable movement on axis A      ",
    "899  , ------------------------------ ",
    "139  , Part X Offset Touch             ",
    "140  , Part Y Offset Touch             ",
    "141  , Part Z Offset Touch             ",
    "142  , Part A Offset Touch             ",
    "899  , ------------------------------ ",
    "145  , Tool X Offset Touch             ",
    "146  , Tool Z Offset Touch             ",
    "899  , ------------------------------ ",
    "1007 , ZeroAll\t\t\t       ",
    "1008 , Zero X                          ",
    "1009 , Zero Y                          ",
    "1010 , Zero Z                          ",
    "1011 , Zero A                          ",
    "899  , ------------------------------ ",
    "1022 , Ref X                           ",
    "1023 , Ref Y                           ",
    "1024 , Ref Z                           ",
    "1025 , Ref A                           ",
    "899  , ------------------------------ ",
    "1017 , GotoZs                          ",
    "138  , Go Home                         ",
    "104  , Goto Safe Z                     ",
};

const std::array<ScreenListEntry, kScreenCount> kScreenList = {{
    {"0, NONE", 0},
    {"1, Screen 1 (Program Run screen) ", 1},
    {"2, Screen 2 (MDI screen)         ", 2},
    {"3, screen 4 (Toolpath screen)    ", 3},
    {"4, screen 5 (Offsets screen) ", 7},
    {"5, screen 6 (Setting screen) ", 6},
    {"6, screen 7 (Diagnostics screen) ", 5},
}};

const std::array<const char*, kVelocityDivisorCount> kVelocityDivisorList = {
    "3,1", "4,2", "5,3", "6,4", "7,5", "9,6", "11,7", "15,8", "20,9", "25,10",
};

const std::array<const char*, kSlowDownCount> kSlowDownList = {"2,2", "3,3", "4,4"};

std::int32_t LeadingNumber(const char* text) {
  // The entries start with their number; no white space or sign is looked for.
  if (text == nullptr || !ascii::IsDigit(*text)) return 0;
  const ascii::LeadingInteger n = ascii::ParseLeadingInteger(text);
  return n.magnitude > INT32_MAX ? INT32_MAX : static_cast<std::int32_t>(n.magnitude);
}
