// TQuorraTool, the INI reader automation object: scripts point it at an INI file and read string,
// integer and Boolean values from it by name.
#pragma once

#include "quorrabox/autoserv.h"
#include "quorrabox/toolini.h"

#include <memory>
#include <string>

class TQuorraTool : public TAutoObject {
public:
    /// Reads a value; `def` when the file, section or key is missing. At most 2047 characters.
    std::string ReadIniString(const std::string& section, const std::string& ident, const std::string& def) const;
    /// "0x"/"0X" followed by more text is hexadecimal, anything else decimal; `def` when not a whole number.
    LONG ReadIniInteger(const std::string& section, const std::string& ident, LONG def) const;
    /// 1 when the value read as ReadIniInteger does is not 0, else 0; a non-integer gives (def != 0).
    LONG ReadIniBool(const std::string& section, const std::string& ident, LONG def) const;
    /// Releases the reader; reads fail until IniFileName is set again.
    void IniClose();
    /// The write-only property IniFileName: binds a new reader to the file. A name without a
    /// directory refers to a file in the system directory (see TToolIni).
    void SetIniFileName(const std::string& fileName);

    const TAutoClassMembers& ClassMembers() const override;

    /// ReadIniInteger's conversion of the text read.
    static LONG IniTextToInt(const std::string& text, LONG def);

private:
    const TToolIni& Reader() const;

    std::unique_ptr<TToolIni> m_iniFile;
};

/// The registration record of TQuorraTool: ProgID "quorrabox.tools", multi-instance.
const TAutoClassInfo& QuorraToolClassInfo();
