// The COM types of the Windows build: the system's own headers.
#pragma once

#include <windows.h>
#include <objbase.h>
#include <oleauto.h>
#include <olectl.h>

/// The exports are named in the module definition file.
#define VKT_COM_EXPORT extern "C"
