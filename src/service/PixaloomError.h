#pragma once

#include "sdk/BridgedError.h"

#include <QString>

#include <exception>

// The edit service's one error type: five cases, some with values. It is thrown out of the
// edit operation and is the only thing that leaves it.
class PixaloomError : public std::exception {
public:
    // In this order; the position is the code of the bridged form.
    enum class Case { networkError, invalidResponse, apiError, invalidImage, noImageInResponse };

    static PixaloomError networkError(const QString& underlyingDescription);
    static PixaloomError invalidResponse(const QString& message);
    static PixaloomError apiError(int statusCode, const QString& message);
    static PixaloomError invalidImage();
    static PixaloomError noImageInResponse();

    Case errorCase() const { return kind; }
    // invalidResponse and apiError: the message; networkError: the underlying description.
    const QString& message() const { return text; }
    int statusCode() const { return code; }

    // The case name with its values in parentheses: apiError(400, "Content blocked ...").
    QString textForm() const;
    // What the platform says of an error that has no description texts of its own.
    QString localizedDescription() const;
    // Domain "Pixaloom.PixaloomError", code = the case's position, no user information.
    BridgedError bridged() const;

    static inline const QString domain = QStringLiteral("Pixaloom.PixaloomError");

    const char* what() const noexcept override;

    bool operator==(const PixaloomError& other) const {
        return kind == other.kind && text == other.text && code == other.code;
    }

private:
    PixaloomError(Case kind, QString text, int code);

    Case kind;
    QString text;
    int code = 0;
    QByteArray whatText;
};
