#pragma once

// Runs the command line in-process and captures both streams. Only for tests
// that link the command-line library (files named *_cli_test.cpp).
#include "cli/cli.h"
#include "programs/programs.h"

#include <QString>
#include <QStringList>

#include <cstdio>

namespace testing_support {

struct Captured {
    int status = -1;
    QString out;
    QString err;
};

inline QString readAndClose(std::FILE* f)
{
    std::fflush(f);
    std::rewind(f);
    QByteArray bytes;
    char buffer[4096];
    size_t n;
    while ((n = std::fread(buffer, 1, sizeof buffer, f)) > 0)
        bytes.append(buffer, qsizetype(n));
    std::fclose(f);
    return QString::fromUtf8(bytes);
}

inline Captured runCli(const QStringList& args, const QString& folder)
{
    std::FILE* out = std::tmpfile();
    std::FILE* err = std::tmpfile();
    Captured c;
    c.status = cli::run(programs::catalog(), args, folder, out, err);
    c.out = readAndClose(out);
    c.err = readAndClose(err);
    return c;
}

} // namespace testing_support
