// The small COM-style binary interface: the Windows scalar types, HRESULT codes, GUIDs and the IUnknown /
// IDispatch / IClassFactory interfaces (from comtypes.h of the platform, chosen by the build: our own
// definitions, or the system's COM headers for Windows, so that code written against this header is
// also a real COM server there), and the helpers over them.
#pragma once

#include "comtypes.h"

#include <cstdint>
#include <string>

/// The symbolic name of a code ("DISP_E_UNKNOWNNAME"), empty when it is not one we know.
std::string HResultName(HRESULT hr);
/// The code for people: "DISP_E_UNKNOWNNAME (0x80020006)", or just the hexadecimal value.
std::string HResultToString(HRESULT hr);

/// Registry form of a GUID: upper-case hexadecimal in braces, "{C869E000-8E64-11D0-AEF9-080000002149}".
std::string GuidToString(const GUID& guid);
/// Parses the registry form (either letter case, braces required); false when the text is not one.
bool StringToGuid(const std::string& text, GUID& guid);

/// Signatures of the four exports of an in-process server.
using DllGetClassObjectFunc = HRESULT (*)(REFCLSID rclsid, REFIID riid, void** ppv);
using DllCanUnloadNowFunc = HRESULT (*)();
using DllRegisterServerFunc = HRESULT (*)();
using DllUnregisterServerFunc = HRESULT (*)();
