#include "document/paths.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QSettings>

#include <fcntl.h>
#include <pwd.h>
#include <unistd.h>

namespace penumbrix {

namespace {

// The home folder's bytes: HOME as the kernel takes it, or, where HOME is
// unset or no absolute path, the user's entry in the password database.
QByteArray homeBytes()
{
    const QByteArray home = qgetenv("HOME");
    if (home.startsWith('/'))
        return home;
    struct passwd entry, *found = nullptr;
    char buffer[4096];
    if (::getpwuid_r(::geteuid(), &entry, buffer, sizeof buffer, &found) == 0 && found && found->pw_dir
        && found->pw_dir[0] == '/')
        return QByteArray(found->pw_dir);
    return {};
}

// A base folder by the XDG base directory rules: the variable's
// bytes when they are an absolute path (an empty or relative one is
// ignored), or the default under the home folder. Empty without a home.
QByteArray baseFolder(const char* variable, const char* underHome)
{
    const QByteArray set = qgetenv(variable);
    if (set.startsWith('/'))
        return set;
    const QByteArray home = homeBytes();
    return home.isEmpty() ? QByteArray() : home + underHome;
}

bool isText(const QByteArray& bytes) { return QFile::encodeName(QFile::decodeName(bytes)) == bytes; }

// A name, as text, for the path whose bytes are `bytes`. Bytes that are no
// text have no such name (they would read as U+FFFD, which names another
// file): the deepest folder on the way that is there, past which the path
// is text, is opened and held for the rest of the run, and the path is named
// through it (/proc/self/fd/N/rest), so every call reaches the folder the
// bytes name. Where there is no such folder, the text read from the bytes,
// with its U+FFFD, which the program's files refuse (openDataFolder).
QString nameOf(const QByteArray& bytes)
{
    if (isText(bytes))
        return QFile::decodeName(bytes);
    for (qsizetype cut = bytes.lastIndexOf('/'); cut > 0; cut = bytes.lastIndexOf('/', cut - 1)) {
        const QByteArray rest = bytes.mid(cut);
        if (!isText(rest))
            break;
        const int fd = ::open(bytes.left(cut).constData(), O_PATH | O_DIRECTORY | O_CLOEXEC);
        if (fd >= 0)
            return QStringLiteral("/proc/self/fd/%1").arg(fd) + QFile::decodeName(rest);
    }
    return QFile::decodeName(bytes);
}

} // namespace

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
    const QByteArray data = baseFolder("XDG_DATA_HOME", "/.local/share");
    paths.dataFolder = data.isEmpty() ? QString() : nameOf(data + "/penumbrix");

    // Qt's own settings (the open dialog's QtProject.conf) go to the config
    // folder reached by its bytes too: Qt reads HOME as text, and would make
    // a folder named with U+FFFD beside the real one. Where the folder can't
    // be named, they are kept nowhere.
    const QByteArray config = baseFolder("XDG_CONFIG_HOME", "/.config");
    QString settings = config.isEmpty() ? QString() : nameOf(config);
    if (settings.isEmpty() || settings.contains(QChar::ReplacementCharacter))
        settings = QStringLiteral("/dev/null");
    for (const QSettings::Format format : {QSettings::NativeFormat, QSettings::IniFormat})
        QSettings::setPath(format, QSettings::UserScope, settings);
    return paths;
}

} // namespace penumbrix
