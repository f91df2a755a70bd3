#include "platform/HotKey.h"

#include "platform/XcbHotKey.h"

#include <QGuiApplication>

HotKey::Registration HotKey::registerEventHotKey(quint32 keycode, Qt::KeyboardModifiers modifiers,
                                                 Handler handler) {
    // Under Wayland an X grab, even through XWayland, would only see keys typed into X
    // clients: there is no global key to take there.
    if (QGuiApplication::platformName() != QLatin1String("xcb"))
        return {nullptr, noX11Display};
    return XcbHotKey::registerEventHotKey(keycode, modifiers, std::move(handler));
}
