#include "service/PixaloomError.h"

#include "platform/ShortenedText.h"

#include <QStringDecoder>

namespace {

const char* caseName(PixaloomError::Case kind) {
    switch (kind) {
    case PixaloomError::Case::networkError:
        return "networkError";
    case PixaloomError::Case::invalidResponse:
        return "invalidResponse";
    case PixaloomError::Case::apiError:
        return "apiError";
    case PixaloomError::Case::invalidImage:
        return "invalidImage";
    case PixaloomError::Case::noImageInResponse:
        return "noImageInResponse";
    }
    return "unknown";
}

// A text value as a quoted literal, so a message holding quotes or line breaks stays one
// unambiguous value inside the text form. The escapes are those of the error texts already in
// logs and analytics: both quote characters, and the other ASCII control characters as two
// upper-case hexadecimal digits; other characters are written as they are.
QString quoted(const QString& text) {
    QString result;
    result.reserve(text.size() + 2);
    result += u'"';
    for (const QChar c : text) {
        switch (c.unicode()) {
        case u'"':
            result += QStringLiteral("\\\"");
            break;
        case u'\'':
            result += QStringLiteral("\\'");
            break;
        case u'\\':
            result += QStringLiteral("\\\\");
            break;
        case u'\n':
            result += QStringLiteral("\\n");
            break;
        case u'\r':
            result += QStringLiteral("\\r");
            break;
        case u'\t':
            result += QStringLiteral("\\t");
            break;
        case u'\0':
            result += QStringLiteral("\\0");
            break;
        default:
            if (c.unicode() < 0x20 || c.unicode() == 0x7F)
                result += QStringLiteral("\\u{%1}").arg(
                    QString::number(c.unicode(), 16).toUpper().rightJustified(2, u'0'));
            else
                result += c;
        }
    }
    result += u'"';
    return result;
}

} // namespace

PixaloomError::PixaloomError(Case kind, QString text, int code, QByteArray utf8Text)
    : kind(kind)
    , text(std::move(text))
    , utf8Text(std::move(utf8Text))
    , code(code)
    , whatText(shortTextForm().toUtf8()) {
}

PixaloomError PixaloomError::networkError(const QString& underlyingDescription) {
    return PixaloomError(Case::networkError, underlyingDescription, 0);
}

PixaloomError PixaloomError::invalidResponse(const QString& message) {
    return PixaloomError(Case::invalidResponse, message, 0);
}

PixaloomError PixaloomError::apiError(int statusCode, const QString& message) {
    return PixaloomError(Case::apiError, message, statusCode);
}

PixaloomError PixaloomError::apiErrorWithBody(int statusCode, const QByteArray& utf8Body) {
    return PixaloomError(Case::apiError, {}, statusCode, utf8Body);
}

PixaloomError PixaloomError::invalidImage() {
    return PixaloomError(Case::invalidImage, {}, 0);
}

PixaloomError PixaloomError::noImageInResponse() {
    return PixaloomError(Case::noImageInResponse, {}, 0);
}

QString PixaloomError::message() const {
    if (utf8Text.isEmpty())
        return text;
    QStringDecoder decoder(QStringDecoder::Utf8);
    return decoder(utf8Text);
}

QString PixaloomError::shortenedMessage(qsizetype limit) const {
    return utf8Text.isEmpty() ? ShortenedText::of(text, limit)
                              : ShortenedText::ofUtf8(utf8Text, limit);
}

QString PixaloomError::textForm() const {
    return textFormWith(message());
}

QString PixaloomError::shortTextForm() const {
    return textFormWith(shortenedMessage(shortMessageLength));
}

QString PixaloomError::textFormWith(const QString& shownMessage) const {
    const QString name = QString::fromLatin1(caseName(kind));
    switch (kind) {
    case Case::networkError:
        return name + u'(' + shownMessage + u')';
    case Case::invalidResponse:
        return name + u'(' + quoted(shownMessage) + u')';
    case Case::apiError:
        return name + u'(' + QString::number(code) + QStringLiteral(", ") + quoted(shownMessage) +
               u')';
    case Case::invalidImage:
    case Case::noImageInResponse:
        return name;
    }
    return name;
}

QString PixaloomError::localizedDescription() const {
    // The error has no description texts of its own, so it reads like any error that only
    // carries its domain and code.
    return QStringLiteral("The operation couldn\u2019t be completed. (%1 error %2.)")
        .arg(domain)
        .arg(static_cast<int>(kind));
}

BridgedError PixaloomError::bridged() const {
    return BridgedError{domain, static_cast<int>(kind), localizedDescription()};
}

const char* PixaloomError::what() const noexcept {
    return whatText.constData();
}
