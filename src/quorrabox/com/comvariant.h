// Automation data of the COM-style interface: BSTR (UTF-16 with a length prefix), VARIANT with the
// types late-bound calls carry, DISPPARAMS, EXCEPINFO, and the variant conversions of VariantChangeTypeEx.
#pragma once

#include "quorrabox/com/com.h"
#include "comautotypes.h"

#include <string>

using OleString = std::basic_string<OLECHAR>;

/// 8-bit text (UTF-8) to a new BSTR; bytes that are not UTF-8 are taken as Latin-1 characters,
/// so no text is refused.
BSTR StringToBstr(const std::string& text);
/// UTF-16 text to UTF-8; a lone surrogate becomes U+FFFD.
std::string OleStrToString(const OLECHAR* text, std::size_t length);
std::string BstrToString(BSTR bstr);
OleString StringToOleStr(const std::string& text);

/// Frees the BSTRs of an exception record and zeroes it.
void ClearExcepInfo(EXCEPINFO* info);
