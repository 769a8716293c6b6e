// A log of one run for administrators (the /LOG=<file> switch): UTF-8 lines,
// each after its local time, written as they come so that a run that stops
// half-way still tells how far it got. A file that cannot be opened leaves the
// log off and never stops the run.
#pragma once
#include <string>

class TRunLog {
public:
    TRunLog() = default;
    ~TRunLog();
    TRunLog(const TRunLog&) = delete;
    TRunLog& operator=(const TRunLog&) = delete;

    // Replaces the file. False (and the log stays off) when it cannot be opened.
    bool Open(const std::wstring& path);
    // The log a /LOG switch asks for: the file, its missing folders made. With no
    // file named, or one that cannot be made, a new file in the temporary folder
    // named after the program and the moment ("Norvanta-setup-20261209-143015.log"),
    // whose first line says why it is there. Answers the file written, empty
    // when none could be opened.
    std::wstring OpenAsked(const std::wstring& file, const std::wstring& program);
    // Goes on at the end of a log another run wrote (made when missing). False
    // when it cannot be opened.
    bool Append(const std::wstring& path);
    // Lets another program write the file; Append takes it up again.
    void Close();
    bool IsOpen() const { return file_ != nullptr; }
    void Line(const std::wstring& text);
    // "<what>: " and the ErrorText of the code.
    void Failure(const std::wstring& what, unsigned long code);

private:
    void* file_ = nullptr; // a Windows HANDLE
};

// The system's text for an error code (FormatMessageW), without the line end.
std::wstring SystemErrorText(unsigned long code);
// "error <code>: <the system's text for it>", as the run log tells a failure.
std::wstring ErrorText(unsigned long code);
