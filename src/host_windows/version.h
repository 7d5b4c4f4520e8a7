// The plug-in's version, in the one place that the display name, the Windows version resource and
// the release package take it from. Plain macros: the resource compiler reads this file too.
#pragma once

#define PENDANT_VERSION_MAJOR 3
#define PENDANT_VERSION_MINOR 4
#define PENDANT_VERSION_PATCH 0
#define PENDANT_VERSION_TEXT "3.4.0"
