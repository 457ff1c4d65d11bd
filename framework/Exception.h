#pragma once
// Exception base of the whole system: every error carries a message text, and the
// application shows Message() as it stands.
#include <exception>
#include <string>

class Exception : public std::exception {
public:
    explicit Exception(std::string message) : FMessage(std::move(message)) {}
    const std::string &Message() const noexcept { return FMessage; }
    const char *what() const noexcept override { return FMessage.c_str(); }

private:
    std::string FMessage;
};

// Text that is not a number, and classes that cannot be assigned to one another.
class EConvertError : public Exception { using Exception::Exception; };
// List index out of bounds and similar misuse of a list.
class EListError : public Exception { using Exception::Exception; };
class EStringListError : public EListError { using EListError::EListError; };

// Component streams: bad format, read errors, files that cannot be opened.
class EStreamError : public Exception { using Exception::Exception; };
class EReadError : public EStreamError { using EStreamError::EStreamError; };
class EWriteError : public EStreamError { using EStreamError::EStreamError; };
class EFilerError : public EStreamError { using EStreamError::EStreamError; };
class EClassNotFound : public EFilerError { using EFilerError::EFilerError; };
class EFOpenError : public EStreamError { using EStreamError::EStreamError; };
// Registry access failures (wrong value type and the like).
class ERegistryException : public Exception { using Exception::Exception; };
