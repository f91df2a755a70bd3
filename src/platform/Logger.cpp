#include "platform/Logger.h"

#include "platform/ShortenedText.h"

#include <QByteArray>
#include <QMessageLogger>

#include <algorithm>
#include <cstdio>
#include <map>
#include <memory>
#include <mutex>
#include <string>

namespace {

// Categories must outlive every message written to them, so they live for the process.
const QLoggingCategory* categoryNamed(const QByteArray& name) {
    struct Entry {
        QByteArray name;
        std::unique_ptr<QLoggingCategory> category;
    };
    static std::mutex mutex;
    static std::map<QByteArray, std::unique_ptr<Entry>> categories;
    std::lock_guard lock(mutex);
    auto& entry = categories[name];
    if (!entry) {
        entry = std::make_unique<Entry>();
        entry->name = name;
        entry->category = std::make_unique<QLoggingCategory>(entry->name.constData());
    }
    return entry->category.get();
}

struct Conversion {
    std::string flags; // "-+ 0#", width and precision as written
    bool boolean = false;
    char specifier = 0;
};

// Reads one conversion after its '%'; returns the position after it.
const char* parseConversion(const char* p, Conversion& out) {
    while (*p == '{') {
        const char* end = p;
        while (*end && *end != '}')
            ++end;
        std::string_view annotation(p + 1, static_cast<size_t>(end - p - 1));
        if (annotation == "bool" || annotation == "BOOL")
            out.boolean = true;
        p = *end ? end + 1 : end;
    }
    while (*p && std::string_view("-+ 0#.0123456789").find(*p) != std::string_view::npos)
        out.flags += *p++;
    while (*p && std::string_view("hlqjztL").find(*p) != std::string_view::npos)
        ++p; // length modifiers: every argument already carries its own width
    out.specifier = *p ? *p++ : 0;
    return p;
}

std::string printfText(const std::string& spec, auto value) {
    const int size = std::snprintf(nullptr, 0, spec.c_str(), value);
    std::string text(static_cast<size_t>(size > 0 ? size : 0), '\0');
    std::snprintf(text.data(), text.size() + 1, spec.c_str(), value);
    return text;
}

QString numberAsText(const LogArgument::Value& value) {
    return std::visit(
        [](const auto& v) -> QString {
            using T = std::decay_t<decltype(v)>;
            if constexpr (std::is_same_v<T, QString>)
                return v;
            else if constexpr (std::is_same_v<T, bool>)
                return v ? QStringLiteral("true") : QStringLiteral("false");
            else
                return QString::number(v);
        },
        value);
}

long long asInteger(const LogArgument::Value& value) {
    if (auto* v = std::get_if<long long>(&value))
        return *v;
    if (auto* v = std::get_if<unsigned long long>(&value))
        return static_cast<long long>(*v);
    if (auto* v = std::get_if<double>(&value))
        return static_cast<long long>(*v);
    if (auto* v = std::get_if<bool>(&value))
        return *v ? 1 : 0;
    return std::get<QString>(value).toLongLong();
}

double asDouble(const LogArgument::Value& value) {
    if (auto* v = std::get_if<double>(&value))
        return *v;
    if (auto* v = std::get_if<QString>(&value))
        return v->toDouble();
    return static_cast<double>(asInteger(value));
}

QString formatOne(const Conversion& conversion, const LogArgument& argument) {
    const auto& value = argument.value;
    const std::string spec = "%" + conversion.flags;
    switch (conversion.specifier) {
    case 'd':
    case 'i':
        if (conversion.boolean)
            return asInteger(value) != 0 ? QStringLiteral("true") : QStringLiteral("false");
        return QString::fromStdString(printfText(spec + "lld", asInteger(value)));
    case 'u':
    case 'x':
    case 'X':
    case 'o':
        return QString::fromStdString(printfText(
            spec + "ll" + conversion.specifier, static_cast<unsigned long long>(asInteger(value))));
    case 'f':
    case 'F':
    case 'e':
    case 'E':
    case 'g':
    case 'G':
        return QString::fromStdString(printfText(spec + conversion.specifier, asDouble(value)));
    case 'c':
        return QString(QChar(static_cast<char16_t>(asInteger(value))));
    default: // 's', '@' and anything else: the value as text
        return numberAsText(value);
    }
}

} // namespace

QString formatLogMessage(const char* format, std::span<const LogArgument> arguments) {
    QString result;
    // A value may be a whole server reply: only what can still show is copied. One character
    // past the limit tells the final cut that something was left out.
    auto append = [&](QStringView piece) {
        const qsizetype room = std::max<qsizetype>(Logger::maxMessageLength + 1 - result.size(), 0);
        result += piece.first(std::min(piece.size(), room));
    };
    size_t next = 0;
    const char* p = format;
    const char* literal = p;
    auto flushLiteral = [&](const char* end) {
        append(QString::fromUtf8(literal, static_cast<qsizetype>(end - literal)));
    };
    while (*p) {
        if (*p != '%') {
            ++p;
            continue;
        }
        flushLiteral(p);
        if (p[1] == '%') {
            append(u"%");
            p += 2;
            literal = p;
            continue;
        }
        Conversion conversion;
        p = parseConversion(p + 1, conversion);
        literal = p;
        if (next < arguments.size())
            append(formatOne(conversion, arguments[next++]));
        else
            append(u"<missing>");
    }
    flushLiteral(p);
    return ShortenedText::of(result, Logger::maxMessageLength);
}

Logger::Logger(const QString& subsystem, const QString& category)
    : loggingCategory(categoryNamed((subsystem + QLatin1Char('.') + category).toUtf8())) {
}

void Logger::write(QtMsgType type, const char* format,
                   std::initializer_list<LogArgument> args) const {
    const QString message = formatLogMessage(format, std::span(args.begin(), args.size()));
    QMessageLogger logger(nullptr, 0, nullptr, loggingCategory->categoryName());
    if (type == QtInfoMsg)
        logger.info("%s", qUtf8Printable(message));
    else
        logger.critical("%s", qUtf8Printable(message));
}
