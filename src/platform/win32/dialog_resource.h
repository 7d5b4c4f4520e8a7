// Resource ids of the configuration dialog shared by the resource script and its procedure. The
// bound controls use the numbers of the settings' control table directly.
#pragma once

#define IDD_PROPERTIESDLG 129
#ifndef IDC_STATIC
#define IDC_STATIC (-1)
#endif
#define IDC_HEADING 1000
