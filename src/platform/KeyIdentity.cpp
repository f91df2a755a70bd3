#include "platform/KeyIdentity.h"

#include <QKeyEvent>

namespace KeyIdentity {

PhysicalKey fromNativeScanCode(quint32 scanCode) {
    switch (scanCode) {
    case 9:
        return PhysicalKey::escape;
    case 52:
        return PhysicalKey::z;
    case 29:
        return PhysicalKey::y;
    case 11:
        return PhysicalKey::digit2;
    case 36:
        return PhysicalKey::returnKey;
    default:
        return PhysicalKey::other;
    }
}

PhysicalKey fromEvent(const QKeyEvent& event) {
    if (event.nativeScanCode() != 0)
        return fromNativeScanCode(event.nativeScanCode());
    switch (event.key()) {
    case Qt::Key_Escape:
        return PhysicalKey::escape;
    case Qt::Key_Z:
        return PhysicalKey::z;
    case Qt::Key_Y:
        return PhysicalKey::y;
    case Qt::Key_2:
    case Qt::Key_At: // Shift+2 on many layouts
        return PhysicalKey::digit2;
    case Qt::Key_Return:
        return PhysicalKey::returnKey;
    default:
        return PhysicalKey::other;
    }
}

} // namespace KeyIdentity
