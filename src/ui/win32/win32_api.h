#pragma once
// The Win32 API, without its macros that rename this program's own names:
// windows.h makes MessageBox MessageBoxW.

#include <windows.h>

#undef MessageBox
