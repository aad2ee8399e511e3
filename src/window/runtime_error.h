#pragma once

#include <QString>

#include <stdexcept>

namespace rt {

// The runtime's own error: every failing property access, message box or
// file statement throws one. A handler that traps errors catches it; any
// other handler lets it reach the runtime, whose default handling reports
// it and ends the program.
class RuntimeError : public std::runtime_error {
public:
    // Error numbers follow the forms runtime's well-known codes so that the
    // default report reads like the real thing.
    enum Code : int {
        OutOfMemory = 7,
        BadFileName = 52,
        FileNotFound = 53,
        DeviceIoError = 57,
        DiskFull = 61,
        InputPastEndOfFile = 62,
        PermissionDenied = 70,
        PathFileAccessError = 75,
        PathNotFound = 76,
        InternalError = 51,
        InvalidPropertyValue = 380,
        CancelError = 32755,
    };

    // An error with the runtime's own message for its number.
    explicit RuntimeError(int code) : RuntimeError(code, standardMessage(code)) {}

    RuntimeError(int code, const QString& message)
        : std::runtime_error(message.toStdString()), code_(code), message_(message) {}

    // The runtime's message for an error number, as its default report
    // shows it.
    static QString standardMessage(int code);

    int code() const noexcept { return code_; }
    const QString& message() const noexcept { return message_; }

private:
    int code_;
    QString message_;
};

} // namespace rt
