#include "files/runtime_error.h"

#include <cerrno>

namespace penumbrix {

RuntimeError::RuntimeError(Code code, QString path, QString detail)
    : code_(code), path_(std::move(path)), detail_(std::move(detail))
{
    what_ = message().toStdString();
}

QString RuntimeError::standardText(Code code)
{
    switch (code) {
    case OutOfMemory: return QStringLiteral("メモリが不足しています。");
    case BadFileName: return QStringLiteral("ファイル名または番号が不正です。");
    case FileNotFound: return QStringLiteral("ファイルが見つかりません。");
    case DeviceIoError: return QStringLiteral("デバイス I/O エラーです。");
    case DiskFull: return QStringLiteral("ディスクの空き容量が不足しています。");
    case PermissionDenied: return QStringLiteral("書き込みできません。");
    case PathNotFound: return QStringLiteral("パスが見つかりません。");
    case ObjectNotAvailable: return QStringLiteral("オブジェクトを作成できません。");
    case InvalidPicture: return QStringLiteral("ピクチャが不正です。");
    }
    return QStringLiteral("アプリケーション定義またはオブジェクト定義のエラーです。");
}

RuntimeError& RuntimeError::withNote(const QString& note)
{
    note_ = note;
    what_ = message().toStdString();
    return *this;
}

QString RuntimeError::text() const { return standardText(code_); }

QString RuntimeError::message() const
{
    QString m = QStringLiteral("実行時エラー '%1':\n\n%2").arg(number()).arg(text());
    if (!path_.isEmpty())
        m += QStringLiteral("\n\n%1").arg(path_);
    if (!note_.isEmpty())
        m += QStringLiteral("\n\n%1").arg(note_);
    return m;
}

RuntimeError fileError(int e, const QString& path, bool writing)
{
    switch (e) {
    case ENOENT:
        // A missing file when reading; a missing folder when writing.
        return RuntimeError(writing ? RuntimeError::PathNotFound : RuntimeError::FileNotFound, path);
    case ENOTDIR:
        return RuntimeError(RuntimeError::PathNotFound, path);
    case EACCES:
    case EPERM:
    case EROFS:
    case EISDIR:
        return RuntimeError(RuntimeError::PermissionDenied, path);
    case ENOSPC:
#ifdef EDQUOT
    case EDQUOT:
#endif
    case EFBIG:
        return RuntimeError(RuntimeError::DiskFull, path);
    case ENOMEM:
        return RuntimeError(RuntimeError::OutOfMemory, path);
    default:
        return RuntimeError(RuntimeError::DeviceIoError, path);
    }
}

} // namespace penumbrix
