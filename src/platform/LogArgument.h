#pragma once

#include <QString>

#include <concepts>
#include <string>
#include <string_view>
#include <variant>

// One value interpolated into a log message. The logger keeps arguments in this form so
// that nothing is turned into text unless the message's level is enabled.
class LogArgument {
public:
    using Value = std::variant<long long, unsigned long long, double, bool, QString>;

    LogArgument(bool value)
        : value(value) {}
    template <std::signed_integral T>
    LogArgument(T value)
        : value(static_cast<long long>(value)) {}
    template <std::unsigned_integral T>
    requires(!std::same_as<T, bool>) LogArgument(T value)
        : value(static_cast<unsigned long long>(value)) {}
    template <std::floating_point T>
    LogArgument(T value)
        : value(static_cast<double>(value)) {}
    LogArgument(const QString& text)
        : value(text) {}
    LogArgument(const char* text)
        : value(QString::fromUtf8(text)) {}
    LogArgument(std::string_view text)
        : value(QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()))) {}
    LogArgument(const std::string& text)
        : LogArgument(std::string_view(text)) {}

    Value value;
};
