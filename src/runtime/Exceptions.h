#pragma once
// The error kinds every operation may raise. Each carries the message text the user
// sees in the error box; the box adds its full stop itself (see ErrorText.h).

#include <exception>
#include <optional>
#include <string>

namespace runtime {

class Exception : public std::exception {
public:
    explicit Exception(std::string message) : message_(std::move(message)) {}
    const char* what() const noexcept override { return message_.c_str(); }
    const std::string& message() const noexcept { return message_; }

private:
    std::string message_;
};

// A field's text is not an integer.
class EConvertError : public Exception {
public:
    using Exception::Exception;
};

// A control was given a property value it cannot take (the progress bar's range).
class EInvalidOperation : public Exception {
public:
    using Exception::Exception;
};

// A non-zero value divided by zero.
class EZeroDivide : public Exception {
public:
    EZeroDivide();
};

// Zero divided by zero, or another operation without a defined result.
class EInvalidOp : public Exception {
public:
    EInvalidOp();
};

// A result too large for its type.
class EOverflow : public Exception {
public:
    EOverflow();
};

// Ends an action silently: the error display shows nothing for it.
class EAbort : public Exception {
public:
    EAbort() : Exception("") {}
};

// The text the error box shows for the exception being handled (call it only inside a
// catch block): its message; nothing for EAbort, which ends an action silently; empty
// text for what is no std::exception.
std::optional<std::string> caughtErrorText();

inline constexpr const char* kZeroDivideMessage = "0 による浮動小数点数除算";
inline constexpr const char* kInvalidOpMessage = "不正な浮動小数点数演算命令";
inline constexpr const char* kOverflowMessage = "浮動小数点数のオーバーフロー";

}  // namespace runtime
