// Base of every exception the program raises: one class carrying the message text,
// with the few general kinds the platform layer itself raises.
#pragma once

#include <exception>
#include <string>

class Exception : public std::exception {
public:
    explicit Exception(std::string message) : m_message(std::move(message)) {}
    const char* what() const noexcept override { return m_message.c_str(); }
    /// The readable message, as logged or shown to the user.
    const std::string& Message() const noexcept { return m_message; }

private:
    std::string m_message;
};

/// A file could not be created, opened, read or written.
class EInOutError : public Exception {
public:
    using Exception::Exception;
};

/// A text or value could not be converted to the requested type.
class EConvertError : public Exception {
public:
    using Exception::Exception;
};

/// A caller passed a value the operation refuses (for example an INI key that would corrupt the file).
class EArgumentError : public Exception {
public:
    using Exception::Exception;
};
