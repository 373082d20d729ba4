#pragma once
// The one error type of the program's run-time failures: a number, a
// Japanese text and the path concerned. An event procedure that raises it is
// left where it failed; the error is reported and the program goes on.

#include <QString>

#include <exception>
#include <string>

namespace penumbrix {

class RuntimeError : public std::exception {
public:
    enum Code {
        OutOfMemory = 7,
        BadFileName = 52,
        FileNotFound = 53,
        DeviceIoError = 57,
        DiskFull = 61,
        PermissionDenied = 70,
        PathNotFound = 76,
        ObjectNotAvailable = 429,
        InvalidPicture = 481,
    };

    explicit RuntimeError(Code code, QString path = {}, QString detail = {});

    Code code() const { return code_; }
    int number() const { return int(code_); }
    QString text() const;          // the standard Japanese text of the number
    const QString& path() const { return path_; }
    const QString& detail() const { return detail_; } // optional, for the curious
    // A Japanese sentence for the user, shown under the path: what became of
    // the file (a copy that holds the old content, a picture saved whose
    // flush could not be confirmed).
    const QString& note() const { return note_; }
    RuntimeError& withNote(const QString& note);
    QString message() const;       // what the message box shows
    const char* what() const noexcept override { return what_.c_str(); }

    static QString standardText(Code code);

private:
    Code code_;
    QString path_;
    QString detail_;
    QString note_;
    std::string what_;
};

// Maps an errno value from a failed file operation to the matching error.
RuntimeError fileError(int errnoValue, const QString& path, bool writing);

} // namespace penumbrix
