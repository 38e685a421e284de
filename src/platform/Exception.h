#pragma once
// The one exception base of the program and the class library's exception classes.
#include <exception>
#include <string>

class Exception : public std::exception {
public:
    explicit Exception(std::string message) : message_(std::move(message)) {}
    const std::string& Message() const noexcept { return message_; }
    void SetMessage(std::string message) { message_ = std::move(message); }
    const char* what() const noexcept override { return message_.c_str(); }

private:
    std::string message_;
};

// Silent exception: ends an operation without a message to the user.
class EAbort : public Exception { public: using Exception::Exception; };
class EInvalidGraphic : public Exception { public: using Exception::Exception; };
class EInvalidOperation : public Exception { public: using Exception::Exception; };
class EOutOfMemory : public Exception { public: using Exception::Exception; };
class EOutOfResources : public Exception { public: using Exception::Exception; };
class EConvertError : public Exception { public: using Exception::Exception; };
class EListError : public Exception { public: using Exception::Exception; };
class EStringListError : public Exception { public: using Exception::Exception; };
class EStreamError : public Exception {
public:
    using Exception::Exception;
    EStreamError(std::string message, int systemError) : Exception(std::move(message)), SystemError(systemError) {}
    int SystemError = 0;  // the errno of the call that failed; 0 when none is known
};
class EFOpenError : public EStreamError { public: using EStreamError::EStreamError; };
class EFCreateError : public EStreamError { public: using EStreamError::EStreamError; };
class EReadError : public EStreamError { public: using EStreamError::EStreamError; };
class EWriteError : public EStreamError { public: using EStreamError::EStreamError; };
// A character that a code page cannot hold, or bytes that are not valid text.
class EInOutError : public Exception { public: using Exception::Exception; };
class ECodePageError : public Exception { public: using Exception::Exception; };
