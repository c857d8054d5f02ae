// File errors, raised as exceptions carrying the numeric I/O code.
//
// The core catches them at the edge of each user action or tick (RunReported in
// core/errorreport.h): the action stops where the error came, and the error report shows
// Message() (a box with a display, standard error without). The codes are the numbers the
// messages have always carried; docs/names.md lists them.
#pragma once

#include <exception>
#include <string>

namespace tavoxa {

// Codes used by the storage layer itself.
constexpr int kIoInvalidNumber = 106;  // a value's text is not a number of its kind
constexpr int kIoCannotCreate = 103;   // a file cannot be created for writing
constexpr int kIoDiskFull = 101;       // the device ran out of space while writing
constexpr int kIoAccessDenied = 5;     // the platform refused the access
constexpr int kIoWriteFault = 29;      // any other failing write
constexpr int kIoReadFault = 30;       // any other failing read

// The German message of a code, UTF-8: "Ungültige numerische Eingabe", "E/A-Fehler 103", ...
std::string IoErrorMessage(int code);
// The same before the code is filled in ("E/A-Fehler %1"), the source text of its translation
// (context "tavoxa::IoError").
const char* IoErrorSourceText(int code);

class IoError : public std::exception {
public:
    explicit IoError(int code);

    int Code() const { return code_; }
    std::string Message() const { return message_; }
    const char* what() const noexcept override { return message_.c_str(); }

private:
    int code_;
    std::string message_;
};

}  // namespace tavoxa
