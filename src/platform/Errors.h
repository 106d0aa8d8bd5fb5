// Errors that carry the system's messages. Raised where a failure is found,
// caught only at the edges that show them (a command, the window procedure).
#pragma once

#include <exception>
#include <string>

class Error : public std::exception {
public:
    explicit Error(std::string message);
    const char* what() const noexcept override { return message_.c_str(); }
    const std::string& Message() const { return message_; }
    // Shown by the last-chance report as the error's type.
    virtual const char* TypeName() const { return "Error"; }
    // Code address at which the error was raised, for the last-chance report.
    const void* Address() const { return address_; }

private:
    std::string message_;
    const void* address_;
};

// Refused list operations: bad index, insert into a sorted list, duplicates.
class ListError : public Error {
public:
    using Error::Error;
    const char* TypeName() const override { return "ListError"; }
};

// A file that cannot be created, or a short write, in the list's own format.
class StreamError : public Error {
public:
    using Error::Error;
    const char* TypeName() const override { return "StreamError"; }
};

// A failed open, read, write or close; the code is the operating system's
// (Windows error codes; the POSIX build maps errno onto them).
class IOError : public Error {
public:
    explicit IOError(unsigned code);
    // With a message of its own, where the code's alone would mislead.
    IOError(unsigned code, std::string message);
    unsigned Code() const { return code_; }
    const char* TypeName() const override { return "IOError"; }

private:
    unsigned code_;
};

class OutOfMemoryError : public Error {
public:
    OutOfMemoryError() : Error("Out of memory") {}
    const char* TypeName() const override { return "OutOfMemoryError"; }
};

// "File not found", "File access denied", ..., "I/O error %d".
std::string IOErrorMessage(unsigned code);

// printf-style formatting into a std::string, for the messages above.
std::string Format(const char* format, ...) __attribute__((format(printf, 1, 2)));
