#pragma once

#include <QByteArray>
#include <QMimeData>

#include <future>

// Clipboard contents that are a PNG still being encoded on a worker thread. The clipboard can
// be claimed at once; a paste that arrives before the encoding is done waits only for the
// rest of it, and a later one gets the finished bytes straight away.
class PngMimeData : public QMimeData {
    Q_OBJECT
public:
    static inline const QString pngType = QStringLiteral("image/png");

    explicit PngMimeData(std::shared_future<QByteArray> png);

    QStringList formats() const override;
    bool hasFormat(const QString& mimeType) const override;

protected:
    QVariant retrieveData(const QString& mimeType, QMetaType type) const override;

private:
    std::shared_future<QByteArray> png;
};
