// The database of a vkt-datutil command: the data module vkt.ini describes, connected or the
// command ends.
#pragma once

#include "db/data.h"

/// The program's data module for the lifetime of a command.
class DatUtilDatabase {
public:
    DatUtilDatabase();
    DatUtilDatabase(const DatUtilDatabase&) = delete;
    DatUtilDatabase& operator=(const DatUtilDatabase&) = delete;

    /// Connects as vkt.ini says; false, with the reason on stderr, when the database cannot be reached
    /// (the command then ends with ExitRefused).
    bool Open();

    TVKTDataModule& Module() { return m_dm; }

private:
    TVKTDataModule m_dm;
    ScopedDataModule m_guard;
};
