#pragma once
// Every failure of the HTTP client and the TCP layer beneath it is an EIdException, so callers that only need
// to know that a transfer failed catch that one class.
#include <string>

#include "platform/exception.h"

class EIdException : public Exception {
public:
    using Exception::Exception;
};

// --- TCP layer ---
class EIdConnClosedGracefully : public EIdException {
public:
    EIdConnClosedGracefully() : EIdException("Connection Closed Gracefully.") {}
};
class EIdReadTimeout : public EIdException {
public:
    EIdReadTimeout() : EIdException("Read Timeout") {}
};
class EIdNotConnected : public EIdException {
public:
    EIdNotConnected() : EIdException("Not Connected") {}
};
class EIdReadLnMaxLineLengthExceeded : public EIdException {
public:
    EIdReadLnMaxLineLengthExceeded() : EIdException("Max line length exceeded.") {}
};
class EIdAlreadyConnected : public EIdException {
public:
    EIdAlreadyConnected() : EIdException("Already connected.") {}
};
class EIdConnectTimeout : public EIdException {
public:
    EIdConnectTimeout() : EIdException("Connect timed out.") {}
};
// A connect with a limit that failed: the message of the socket error, and its WinSock code.
class EIdConnectException : public EIdException {
public:
    explicit EIdConnectException(std::string message, int socketCode = 0)
        : EIdException(std::move(message)), socketCode_(socketCode) {}
    int SocketCode() const noexcept { return socketCode_; }

private:
    int socketCode_;
};
class EIdInvalidSocket : public EIdException {
public:
    EIdInvalidSocket() : EIdException("Cannot allocate socket.") {}
};
class EIdCouldNotBindSocket : public EIdException {
public:
    EIdCouldNotBindSocket() : EIdException("Could not bind socket. Address and port are already in use.") {}
};
class EIdNotEnoughDataInBuffer : public EIdException {
public:
    EIdNotEnoughDataInBuffer() : EIdException("Not enough data in buffer.") {}
};
class EIdStackInitializationFailed : public EIdException {
public:
    EIdStackInitializationFailed() : EIdException("Winsock Initialization Error.") {}
};

// A socket failure with its WinSock code; the message is "Socket Error # <code>\r\n<text of the code>".
class EIdSocketError : public EIdException {
public:
    explicit EIdSocketError(int code);
    int SocketCode() const noexcept { return code_; }

private:
    int code_;
};
// The WinSock text of a code, empty for a code the table does not know.
const char* SocketErrorText(int code);

// --- URI and authentication ---
class EIdURIException : public EIdException {
public:
    using EIdException::EIdException;
};
class EIdAlreadyRegisteredAuthenticationMethod : public EIdException {
public:
    using EIdException::EIdException;
};

// --- HTTP exchange ---
class EIdUnknownProtocol : public EIdException {
public:
    EIdUnknownProtocol() : EIdException("") {}
};
class EIdIOHandlerPropInvalid : public EIdException {
public:
    EIdIOHandlerPropInvalid() : EIdException("IOHandler value is not valid") {}
};
// A response header block beyond what any real server sends (too many lines or too many bytes).
class EIdHTTPHeaderTooLarge : public EIdException {
public:
    EIdHTTPHeaderTooLarge() : EIdException("Response header block too large.") {}
};
class EIdProtocolReplyError : public EIdException {
public:
    EIdProtocolReplyError(int code, std::string message) : EIdException(std::move(message)), code_(code) {}
    int ReplyErrorCode() const noexcept { return code_; }

private:
    int code_;
};

// A status the exchange does not accept: the message is the whole status line as received.
class EIdHTTPProtocolException : public EIdProtocolReplyError {
public:
    EIdHTTPProtocolException(int statusCode, std::string statusLine, std::string errorBody)
        : EIdProtocolReplyError(statusCode, std::move(statusLine)), errorBody_(std::move(errorBody)) {}
    int StatusCode() const noexcept { return ReplyErrorCode(); }
    const std::string& ErrorBody() const noexcept { return errorBody_; }

private:
    std::string errorBody_;
};
