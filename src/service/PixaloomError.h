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
    // apiError whose message is a reply body of valid UTF-8, kept as it came: a body of
    // hundreds of megabytes is not copied into twice its size, and is decoded only when the
    // whole message is asked for.
    static PixaloomError apiErrorWithBody(int statusCode, const QByteArray& utf8Body);
    static PixaloomError invalidImage();
    static PixaloomError noImageInResponse();

    Case errorCase() const { return kind; }
    // invalidResponse and apiError: the message; networkError: the underlying description.
    QString message() const;
    // The message as a person reads it: at most `limit` characters, cut with "…". Only that
    // much of a long message is decoded.
    QString shortenedMessage(qsizetype limit) const;
    int statusCode() const { return code; }

    // The case name with its values in parentheses: apiError(400, "Content blocked ...").
    QString textForm() const;
    // The same with the message shortened to `shortMessageLength` characters: what a log
    // line, a crash report or an analytics property carries of a message that may be a whole
    // reply body.
    QString shortTextForm() const;
    static constexpr qsizetype shortMessageLength = 1000;
    // What the platform says of an error that has no description texts of its own.
    QString localizedDescription() const;
    // Domain "Pixaloom.PixaloomError", code = the case's position, no user information.
    BridgedError bridged() const;

    static inline const QString domain = QStringLiteral("Pixaloom.PixaloomError");

    const char* what() const noexcept override;

    bool operator==(const PixaloomError& other) const {
        return kind == other.kind && message() == other.message() && code == other.code;
    }

private:
    PixaloomError(Case kind, QString text, int code, QByteArray utf8Text = {});
    QString textFormWith(const QString& shownMessage) const;

    Case kind;
    QString text;
    // The message when it came as UTF-8 (then `text` is empty).
    QByteArray utf8Text;
    int code = 0;
    QByteArray whatText;
};
