#pragma once

#include <QString>

namespace shell {

// The data-link files of the source and of the target.
inline const QString kSourceLinkName = QStringLiteral("数据库连接1.udl");
inline const QString kTargetLinkName = QStringLiteral("数据库连接2.udl");

// Where the two data-link files are read and written. The program folder
// serves while it holds them; an installed program's folder (/usr/bin) does
// not, so the user's configuration folder serves instead.
struct LinkFolder {
    QString readFrom; // the folder both files are read from
    QString writeTo;  // the folder edited or new files are written to
    bool inProgramFolder = true;
    // Reading from the configuration folder: the program folder, whose file
    // serves where the configuration folder holds only the other one.
    QString otherFolder;

    QString sourceUdl() const;
    QString targetUdl() const;
};

// $XDG_CONFIG_HOME/belmire-convert, by default ~/.config/belmire-convert.
QString configFolder();

// The program folder when either file is there, unless it cannot be written
// and the configuration folder holds files too (the files edited in place of
// those the program folder keeps read-only); else the configuration folder when
// either file is there; else the program folder when it can be written,
// otherwise the configuration folder. Files are written where they are read,
// or to the configuration folder when that folder cannot be written.
LinkFolder linkFolder(const QString& programFolder);

} // namespace shell
