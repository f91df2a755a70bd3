#pragma once

#include "sdk/BridgedError.h"

#include <QString>

#include <exception>

// Why a reply could not be read as the records it should hold: the kind of problem, where
// it sits (a coding path such as "parts[0].content") and what was found there.
class DecodingError : public std::exception {
public:
    enum class Kind { typeMismatch, valueNotFound, keyNotFound, dataCorrupted };

    DecodingError(Kind kind, QString codingPath, QString debugDescription);

    Kind kind() const { return errorKind; }
    const QString& codingPath() const { return path; }
    const QString& debugDescription() const { return detail; }

    // "keyNotFound(parts): No value associated with key "parts"."
    QString description() const;
    QString localizedDescription() const { return description(); }
    // Bridged as the platform's coder errors: corrupt data or a missing value.
    BridgedError bridged() const;

    const char* what() const noexcept override;

    static inline const QString domain = QStringLiteral("NSCocoaErrorDomain");
    static constexpr int coderReadCorruptError = 4864;
    static constexpr int coderValueNotFoundError = 4865;

private:
    Kind errorKind;
    QString path;
    QString detail;
    QByteArray whatText;
};
