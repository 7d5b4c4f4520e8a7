// Resource ids of the configuration dialog shared by the resource script and its procedure. The
// bound controls use the numbers of the settings' control table directly.
#pragma once

#define IDD_PROPERTIESDLG 129
#ifndef IDC_STATIC
#define IDC_STATIC (-1)
#endif
#define IDC_HEADING 1000
// The status area: a lamp, whether a pendant is connected, and the live view of its report.
#define IDC_PENDANT_LAMP 1001
#define IDC_PENDANT_STATUS 1002
#define IDC_PENDANT_VIEW 1003
