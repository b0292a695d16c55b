#pragma once
// The exception root of every layer: a message text and nothing else. Library layers derive their own
// classes from it; callers that only need the text catch this one.
#include <exception>
#include <string>

class Exception : public std::exception {
public:
    explicit Exception(std::string message) : message_(std::move(message)) {}
    const std::string& Message() const noexcept { return message_; }
    const char* what() const noexcept override { return message_.c_str(); }

private:
    std::string message_;
};

// A text that does not convert to the number it should hold.
class EConvertError : public Exception {
public:
    using Exception::Exception;
};
