// The DLL's own instance handle, remembered at process attach (window classes, dialog templates,
// the module file name all need it).
#pragma once

#include <windows.h>

HINSTANCE ThisModuleInstance();
