// The exception classes of the program. The setup's utilities never throw; the
// framework and the payload reader do. What escapes a window procedure is shown
// as a critical error; what reaches the program block ends the process with
// exit code 217.
#pragma once
#include <string>
#include <utility>

class Exception {
public:
    explicit Exception(std::string message) : message_(std::move(message)) {}
    virtual ~Exception() = default;
    const std::string& Message() const { return message_; }

private:
    std::string message_;
};

class EStreamError : public Exception {
public:
    using Exception::Exception;
};

// A damaged form definition (names the class or property concerned).
class EReadError : public EStreamError {
public:
    using EStreamError::EStreamError;
};

// A zlib stream that is corrupt or ends early.
class EZlibError : public EStreamError {
public:
    using EStreamError::EStreamError;
};

// A PNG image outside the palette subset the logo uses, or damaged.
class EPNGError : public EStreamError {
public:
    using EStreamError::EStreamError;
};

// A payload archive whose records cannot be trusted (says which record and why).
class EArchiveError : public Exception {
public:
    using Exception::Exception;
};

// A resource that is missing from the program.
class EResNotFound : public Exception {
public:
    using Exception::Exception;
};
