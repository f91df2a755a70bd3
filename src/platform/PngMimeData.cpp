#include "platform/PngMimeData.h"

PngMimeData::PngMimeData(std::shared_future<QByteArray> png)
    : png(std::move(png)) {
}

QStringList PngMimeData::formats() const {
    return {pngType};
}

bool PngMimeData::hasFormat(const QString& mimeType) const {
    return mimeType == pngType;
}

QVariant PngMimeData::retrieveData(const QString& mimeType, QMetaType type) const {
    Q_UNUSED(type);
    if (mimeType != pngType || !png.valid())
        return {};
    return png.get();
}
