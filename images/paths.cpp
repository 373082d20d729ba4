#include "images/paths.h"

#include <QCoreApplication>
#include <QDir>
#include <QStandardPaths>

namespace penumbrix {

QString ProgramPaths::placeholder() const
{
    return QDir::cleanPath(QDir(installFolder).absoluteFilePath(QString::fromLatin1(kPlaceholderFileName)));
}

QString ProgramPaths::workFile() const
{
    return QDir::cleanPath(QDir(dataFolder).absoluteFilePath(QString::fromLatin1(kWorkFileName)));
}

ProgramPaths ProgramPaths::forThisProgram()
{
    ProgramPaths paths;
    paths.installFolder =
        QDir::cleanPath(QCoreApplication::applicationDirPath() + QStringLiteral("/../share/penumbrix"));
    paths.dataFolder = QDir::cleanPath(QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation) +
                                       QStringLiteral("/penumbrix"));
    return paths;
}

} // namespace penumbrix
