// GIO first: its structures have members named like Qt's keyword macros.
#include <gio/gio.h>

#include "platform/ImageSharing.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QUuid>

#include <memory>

namespace ImageSharing {

namespace {

template <typename T> struct GObjectDeleter {
    void operator()(T* object) const { g_object_unref(object); }
};
template <typename T> using GObjectPointer = std::unique_ptr<T, GObjectDeleter<T>>;

// The application registered for images under this id, if it still is.
GObjectPointer<GAppInfo> applicationForImages(const QString& identifier) {
    const QByteArray wanted = identifier.toUtf8();
    GAppInfo* found = nullptr;
    GList* applications = g_app_info_get_all_for_type("image/png");
    for (GList* item = applications; item && !found; item = item->next) {
        const char* id = g_app_info_get_id(G_APP_INFO(item->data));
        if (id && wanted == id)
            found = G_APP_INFO(g_object_ref(item->data));
    }
    g_list_free_full(applications, g_object_unref);
    return GObjectPointer<GAppInfo>(found);
}

struct GErrorDeleter {
    void operator()(GError* error) const { g_error_free(error); }
};

// A 0700 folder for the files handed to other applications. The receiving application may
// open its file long after the launch, so the files stay until the process ends.
QTemporaryDir& privateFolder() {
    static QTemporaryDir folder(QDir::tempPath() + QStringLiteral("/pixaloom-share-XXXXXX"));
    return folder;
}

std::expected<QString, QString> writePrivatePng(const QImage& image) {
    auto& folder = privateFolder();
    if (!folder.isValid())
        return std::unexpected(QStringLiteral("Could not create a private temporary folder"));
    const QString path = folder.filePath(
        QStringLiteral("Pixaloom-%1.png").arg(QUuid::createUuid().toString(QUuid::WithoutBraces)));
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::NewOnly))
        return std::unexpected(file.errorString());
    file.setPermissions(QFileDevice::ReadOwner | QFileDevice::WriteOwner);
    if (!image.save(&file, "png"))
        return std::unexpected(QStringLiteral("Could not write %1").arg(path));
    return path;
}

} // namespace

std::vector<SharingService> servicesForImages() {
    std::vector<SharingService> services;
    GList* applications = g_app_info_get_all_for_type("image/png");
    for (GList* item = applications; item; item = item->next) {
        auto* application = G_APP_INFO(item->data);
        if (!g_app_info_should_show(application))
            continue;
        const char* identifier = g_app_info_get_id(application);
        const char* name = g_app_info_get_name(application);
        if (identifier && name)
            services.push_back({QString::fromUtf8(identifier), QString::fromUtf8(name)});
    }
    g_list_free_full(applications, g_object_unref);
    return services;
}

std::expected<void, QString> perform(const SharingService& service, const QImage& image) {
    const auto application = applicationForImages(service.identifier);
    if (!application)
        return std::unexpected(QStringLiteral("No application %1").arg(service.identifier));
    const auto path = writePrivatePng(image);
    if (!path)
        return std::unexpected(path.error());
    GObjectPointer<GFile> file(g_file_new_for_path(QFile::encodeName(*path).constData()));
    GList files{file.get(), nullptr, nullptr};
    GError* rawError = nullptr;
    const bool launched = g_app_info_launch(application.get(), &files, nullptr, &rawError);
    std::unique_ptr<GError, GErrorDeleter> error(rawError);
    if (!launched)
        return std::unexpected(error ? QString::fromUtf8(error->message)
                                     : QStringLiteral("The application did not start"));
    return {};
}

} // namespace ImageSharing
