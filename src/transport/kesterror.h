#pragma once
// The program's error type: a Russian message text in UTF-8, shown to the user as it is.

#include <stdexcept>
#include <string>

class EKestError : public std::runtime_error {
public:
    explicit EKestError(const std::string &message) : std::runtime_error(message) { }
    std::string Message() const { return what(); }
};

// Raised by the serial port component.
class EComPort : public EKestError {
public:
    using EKestError::EKestError;
};

namespace KestText {
inline constexpr const char *NoAnswer = "Нет ответа";
}
