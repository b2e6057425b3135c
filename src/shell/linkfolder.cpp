#include "shell/linkfolder.h"

#include <QDir>
#include <QFileInfo>

namespace shell {

namespace {

bool holdsFiles(const QString& folder)
{
    const QDir dir(folder);
    return QFileInfo::exists(dir.filePath(kSourceLinkName)) || QFileInfo::exists(dir.filePath(kTargetLinkName));
}

bool writable(const QString& folder)
{
    const QFileInfo info(folder);
    return info.isDir() && info.isWritable();
}

} // namespace

namespace {

QString pick(const LinkFolder& f, const QString& name)
{
    const QString own = QDir(f.readFrom).filePath(name);
    if (f.otherFolder.isEmpty() || QFileInfo::exists(own))
        return own;
    const QString other = QDir(f.otherFolder).filePath(name);
    return QFileInfo::exists(other) ? other : own;
}

} // namespace

QString LinkFolder::sourceUdl() const { return pick(*this, kSourceLinkName); }

QString LinkFolder::targetUdl() const { return pick(*this, kTargetLinkName); }

QString configFolder()
{
    // A relative XDG_CONFIG_HOME is invalid and ignored.
    QString base = qEnvironmentVariable("XDG_CONFIG_HOME");
    if (base.isEmpty() || QDir::isRelativePath(base))
        base = QDir::homePath() + QStringLiteral("/.config");
    return QDir::cleanPath(base + QStringLiteral("/belmire-convert"));
}

LinkFolder linkFolder(const QString& programFolder)
{
    const QString program = QDir::cleanPath(QDir(programFolder).absolutePath());
    const QString config = configFolder();
    LinkFolder f;
    const bool inProgram = holdsFiles(program);
    const bool inConfig = holdsFiles(config);
    if (inProgram ? writable(program) || !inConfig : !inConfig && writable(program)) {
        f.readFrom = program;
    } else {
        f.readFrom = config;
        f.inProgramFolder = false;
        if (inProgram)
            f.otherFolder = program;
    }
    f.writeTo = writable(f.readFrom) || !f.inProgramFolder ? f.readFrom : config;
    return f;
}

} // namespace shell
