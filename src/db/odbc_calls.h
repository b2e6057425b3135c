#pragma once

// The ODBC API as the backend's files use it: the platform's headers (Windows'
// driver manager wants windows.h first) and UTF-16 text on both sides.
#ifdef _WIN32
#include <windows.h>
#endif
#include <sql.h>
#include <sqlext.h>
#include <sqlucode.h>

#include "db/odbc_connection.h"

#include <QString>

#include <vector>

static_assert(sizeof(SQLWCHAR) == sizeof(char16_t), "ODBC wide characters must be UTF-16 units");

namespace db::odbc {

// The one ODBC environment of the process (ODBC 3 behaviour).
SQLHENV environment();

// Every diagnostic record of a handle as one failure.
Failure diagnostics(SQLSMALLINT type, SQLHANDLE handle);

// A text as a zero-terminated SQLWCHAR array.
inline std::vector<SQLWCHAR> toWide(const QString& text)
{
    std::vector<SQLWCHAR> out(size_t(text.size()) + 1, 0);
    const auto* s = text.utf16();
    for (qsizetype i = 0; i < text.size(); ++i)
        out[size_t(i)] = SQLWCHAR(s[i]);
    return out;
}

inline QString fromWide(const SQLWCHAR* s, qsizetype units)
{
    return QString(reinterpret_cast<const QChar*>(s), units);
}

} // namespace db::odbc
