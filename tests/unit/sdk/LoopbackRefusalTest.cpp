// The SDK tests take their servers offline and back; while one is offline, nothing else on
// the machine may take its port, or the test fails for a reason of its own.
#include "LoopbackHttpServer.h"

#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QUrl>

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {

quint16 portOf(const LoopbackHttpServer& server) {
    return QUrl(server.baseUrl()).port();
}

// Whether a plain socket of another program could bind the port, as the kernel's choice of a
// client's port or another server's would.
bool anotherSocketCanBind(quint16 port, bool reuseAddress) {
    const int socket = ::socket(AF_INET, SOCK_STREAM, 0);
    const int reuse = 1;
    if (reuseAddress)
        ::setsockopt(socket, SOL_SOCKET, SO_REUSEADDR, &reuse, sizeof reuse);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = htons(port);
    const bool bound = ::bind(socket, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
    const bool listens = bound && ::listen(socket, 1) == 0;
    ::close(socket);
    return listens;
}

QNetworkReply::NetworkError getError(QNetworkAccessManager& network, const QString& url) {
    QNetworkReply* reply = network.get(QNetworkRequest(QUrl(url)));
    LoopbackHttpServer::waitUntil([reply] { return reply->isFinished(); });
    const QNetworkReply::NetworkError error = reply->error();
    reply->deleteLater();
    return error;
}

TEST(LoopbackServer, KeepsItsPortWhileRefusingAndServesOnItAgain) {
    LoopbackHttpServer server;
    server.setDefaultReply(LoopbackHttpServer::json(200, "{}"));
    QNetworkAccessManager network;
    const QString url = server.baseUrl() + QStringLiteral("/ping");

    for (int round = 0; round < 3; ++round) {
        SCOPED_TRACE(round);
        server.refuseConnections();
        EXPECT_EQ(getError(network, url), QNetworkReply::ConnectionRefusedError);
        EXPECT_FALSE(anotherSocketCanBind(portOf(server), false));
        EXPECT_FALSE(anotherSocketCanBind(portOf(server), true));

        server.acceptConnections();
        EXPECT_EQ(getError(network, url), QNetworkReply::NoError);
    }
    EXPECT_EQ(server.requests().size(), 3u);
}

} // namespace
