#include "service/DecodingError.h"

namespace {

const char* kindName(DecodingError::Kind kind) {
    switch (kind) {
    case DecodingError::Kind::typeMismatch:
        return "typeMismatch";
    case DecodingError::Kind::valueNotFound:
        return "valueNotFound";
    case DecodingError::Kind::keyNotFound:
        return "keyNotFound";
    case DecodingError::Kind::dataCorrupted:
        return "dataCorrupted";
    }
    return "unknown";
}

} // namespace

DecodingError::DecodingError(Kind kind, QString codingPath, QString debugDescription)
    : errorKind(kind)
    , path(std::move(codingPath))
    , detail(std::move(debugDescription))
    , whatText(description().toUtf8()) {
}

QString DecodingError::description() const {
    const QString where = path.isEmpty() ? QStringLiteral("top level") : path;
    return QString::fromLatin1(kindName(errorKind)) + u'(' + where + QStringLiteral("): ") + detail;
}

BridgedError DecodingError::bridged() const {
    const bool missing = errorKind == Kind::keyNotFound || errorKind == Kind::valueNotFound;
    return BridgedError{domain, missing ? coderValueNotFoundError : coderReadCorruptError,
                        localizedDescription()};
}

const char* DecodingError::what() const noexcept {
    return whatText.constData();
}
