// The exception classes of the program. The setup's utilities never throw; the
// framework and the payload reader do, and whatever reaches the program block
// ends the process with exit code 217.
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

// The silent abort: never reported to the user.
class EAbort : public Exception {
public:
    EAbort() : Exception("Operation aborted") {}
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
