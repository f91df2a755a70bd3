#include "UpdateFeeds.h"
#include "sdk/Appcast.h"

#include <QStringList>

#include <gtest/gtest.h>

namespace {

using UpdateFeeds::feed;
using UpdateFeeds::item;

QStringList versions(const Appcast& appcast) {
    QStringList result;
    for (const auto& entry : appcast.items)
        result << entry.versionString + u'/' + entry.displayVersionString;
    return result;
}

TEST(AppcastTest, ReadsEveryFieldOfAnItem) {
    const auto appcast =
        Appcast::parse(feed(item(QStringLiteral("1248"), QStringLiteral("1.5.1"))));
    ASSERT_TRUE(appcast) << appcast.error().toStdString();
    ASSERT_EQ(appcast->items.size(), 1u);
    const AppcastItem& entry = appcast->items.front();
    EXPECT_EQ(entry.title, u"Version 1.5.1");
    EXPECT_EQ(entry.versionString, u"1248");
    EXPECT_EQ(entry.displayVersionString, u"1.5.1");
    EXPECT_EQ(entry.releaseNotesURL, QUrl(QStringLiteral("https://example.com/notes/1.5.1.html")));
    EXPECT_EQ(entry.infoURL, QUrl(QStringLiteral("https://example.com/download")));
    EXPECT_EQ(entry.fileURL, QUrl(QStringLiteral("https://example.com/Pixaloom_1248.tar.gz")));
    EXPECT_FALSE(entry.isInformationOnly());
}

// The namespace is known by its URI: publishers choose their own prefix.
TEST(AppcastTest, MatchesTheSparkleNamespaceByItsUriNotItsPrefix) {
    const auto otherPrefix = Appcast::parse(
        feed(item(QStringLiteral("7"), QStringLiteral("1.7")), QStringLiteral("su")));
    ASSERT_TRUE(otherPrefix);
    EXPECT_EQ(versions(*otherPrefix), QStringList{QStringLiteral("7/1.7")});

    QByteArray wrongUri = feed(item(QStringLiteral("7"), QStringLiteral("1.7")));
    wrongUri.replace("xml-namespaces/sparkle", "xml-namespaces/other");
    const auto foreign = Appcast::parse(wrongUri);
    ASSERT_TRUE(foreign);
    // Only the enclosure's file name is left to tell the version.
    EXPECT_EQ(versions(*foreign), QStringList{QStringLiteral("7.tar/7.tar")});
}

struct ItemCase {
    const char* name;
    QString itemXml;
    QString expected; // "version/display", or empty when the item is invalid
};

class AppcastItemTest : public ::testing::TestWithParam<ItemCase> {};

TEST_P(AppcastItemTest, TakesTheVersionFromWherePublishersPutIt) {
    const auto appcast = Appcast::parse(feed(GetParam().itemXml));
    ASSERT_TRUE(appcast) << appcast.error().toStdString();
    if (GetParam().expected.isEmpty()) {
        EXPECT_TRUE(appcast->items.empty());
        EXPECT_EQ(appcast->invalidItemCount, 1);
    } else {
        EXPECT_EQ(versions(*appcast), QStringList{GetParam().expected});
        EXPECT_EQ(appcast->invalidItemCount, 0);
    }
}

const QString enclosure = QStringLiteral("<enclosure url=\"https://example.com/Pixaloom_3.1.zip\"");

// "1.1.1…" of `parts` parts.
QString versionOfParts(int parts) {
    const int afterTheFirst = parts - 1;
    return u'1' + QStringLiteral(".1").repeated(afterTheFirst / 2) +
           (afterTheFirst % 2 == 1 ? QStringLiteral(".") : QString());
}

QString itemWithVersion(const QString& version) {
    return QStringLiteral("<item><sparkle:version>") + version +
           QStringLiteral("</sparkle:version>") + enclosure + QStringLiteral("/></item>");
}

INSTANTIATE_TEST_SUITE_P(
    Items, AppcastItemTest,
    ::testing::Values(
        ItemCase{"EnclosureAttributesWin",
                 QStringLiteral("<item><sparkle:version>5</sparkle:version>"
                                "<sparkle:shortVersionString>0.5</sparkle:shortVersionString>") +
                     enclosure +
                     QStringLiteral(" sparkle:version=\"6\" sparkle:shortVersionString=\"0.6\"/>"
                                    "</item>"),
                 QStringLiteral("6/0.6")},
        ItemCase{"WhiteSpaceAroundTextIsTrimmed",
                 QStringLiteral("<item><sparkle:version>\n  12 \n</sparkle:version>") + enclosure +
                     QStringLiteral("/></item>"),
                 QStringLiteral("12/12")},
        ItemCase{"VersionFromTheFileName",
                 QStringLiteral("<item>") + enclosure + QStringLiteral("/></item>"),
                 QStringLiteral("3.1/3.1")},
        ItemCase{"InformationalItemWithALink",
                 QStringLiteral("<item><sparkle:version>9</sparkle:version>"
                                "<link>https://example.com/9</link></item>"),
                 QStringLiteral("9/9")},
        ItemCase{
            "NoVersionAnywhere",
            QStringLiteral("<item><enclosure url=\"https://example.com/Pixaloom.zip\"/></item>"),
            {}},
        ItemCase{"EnclosureWithoutUrl",
                 QStringLiteral("<item><sparkle:version>9</sparkle:version><enclosure/></item>"),
                 {}},
        ItemCase{"EnclosureWithAFileUrl",
                 QStringLiteral("<item><sparkle:version>9</sparkle:version>"
                                "<enclosure url=\"file:///etc/passwd\"/></item>"),
                 {}},
        // More parts than any release has: only a broken or hostile feed has such a version.
        ItemCase{"VersionOfAHundredParts", itemWithVersion(versionOfParts(100)),
                 versionOfParts(100) + u'/' + versionOfParts(100)},
        ItemCase{"VersionOfMorePartsThanAnyRelease", itemWithVersion(versionOfParts(101)), {}},
        ItemCase{"VersionOfNothingButPeriods",
                 itemWithVersion(QStringLiteral(".").repeated(1 << 20)),
                 {}},
        ItemCase{"NeitherEnclosureNorWebLink",
                 QStringLiteral("<item><sparkle:version>9</sparkle:version>"
                                "<link>javascript:alert(1)</link></item>"),
                 {}}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(AppcastTest, KeepsOnlyWebLinksAndThePlainReleaseNotes) {
    const auto appcast = Appcast::parse(feed(QStringLiteral(
        "<item><sparkle:version>2</sparkle:version>"
        "<sparkle:releaseNotesLink xml:lang=\"de\">https://example.com/de.html"
        "</sparkle:releaseNotesLink>"
        "<sparkle:releaseNotesLink>https://example.com/en.html</sparkle:releaseNotesLink>"
        "<link>file:///home/user/.ssh/id_rsa</link>"
        "<enclosure url=\"http://example.com/a_2.zip\"/></item>")));
    ASSERT_TRUE(appcast);
    ASSERT_EQ(appcast->items.size(), 1u);
    EXPECT_EQ(appcast->items[0].releaseNotesURL,
              QUrl(QStringLiteral("https://example.com/en.html")));
    EXPECT_TRUE(appcast->items[0].infoURL.isEmpty());
    EXPECT_EQ(appcast->items[0].downloadPageURL(),
              QUrl(QStringLiteral("http://example.com/a_2.zip")));
}

struct BestCase {
    const char* name;
    QString items;
    QString hostVersion;
    QString expectedUpdate; // display version, or empty for none
};

class AppcastBestItemTest : public ::testing::TestWithParam<BestCase> {};

TEST_P(AppcastBestItemTest, OffersOnlyANewerVersionForThisSystem) {
    const auto appcast = Appcast::parse(feed(GetParam().items));
    ASSERT_TRUE(appcast) << appcast.error().toStdString();
    const auto update = appcast->validUpdate(GetParam().hostVersion);
    EXPECT_EQ(update ? update->displayVersionString : QString(), GetParam().expectedUpdate);
}

QString release(const char* version) {
    return item(QString::fromLatin1(version), QStringLiteral("v") + QString::fromLatin1(version));
}

INSTANTIATE_TEST_SUITE_P(
    Feeds, AppcastBestItemTest,
    ::testing::Values(
        BestCase{"Newer", release("1.5") + release("1.6"), QStringLiteral("1.5"),
                 QStringLiteral("v1.6")},
        BestCase{"NewestWinsWhateverTheOrder", release("1.7") + release("1.10") + release("1.9"),
                 QStringLiteral("1.5"), QStringLiteral("v1.10")},
        BestCase{"Equal", release("1.5"), QStringLiteral("1.5"), {}},
        BestCase{"EqualWithATrailingZero", release("1.5.0"), QStringLiteral("1.5"), {}},
        BestCase{"Older", release("1.4") + release("1.4.9"), QStringLiteral("1.5"), {}},
        BestCase{"PreReleaseOfTheRunningVersion", release("1.5b3"), QStringLiteral("1.5"), {}},
        BestCase{"PreReleaseOfTheNextVersion", release("1.6b1"), QStringLiteral("1.5"),
                 QStringLiteral("v1.6b1")},
        BestCase{"RunningAPreRelease", release("1.5"), QStringLiteral("1.5rc2"),
                 QStringLiteral("v1.5")},
        BestCase{"FirstOfEqualVersionsWins",
                 item(QStringLiteral("2"), QStringLiteral("first")) +
                     item(QStringLiteral("2.0"), QStringLiteral("second")),
                 QStringLiteral("1"), QStringLiteral("first")},
        BestCase{"MalformedItemsAreSkipped",
                 QStringLiteral("<item><sparkle:version>99</sparkle:version></item>") +
                     release("1.6"),
                 QStringLiteral("1.5"), QStringLiteral("v1.6")},
        BestCase{"OtherSystemsAndChannelsAreIgnored",
                 item(QStringLiteral("3"), QStringLiteral("mac"))
                         .replace(QStringLiteral("<enclosure "),
                                  QStringLiteral("<enclosure sparkle:os=\"macos\" ")) +
                     item(QStringLiteral("4"), QStringLiteral("beta"),
                          QStringLiteral("<sparkle:channel>beta</sparkle:channel>")) +
                     item(QStringLiteral("2"), QStringLiteral("linux"))
                         .replace(QStringLiteral("<enclosure "),
                                  QStringLiteral("<enclosure sparkle:os=\"linux\" ")),
                 QStringLiteral("1"), QStringLiteral("linux")},
        BestCase{
            "DeltaEnclosuresAreNotOffers",
            item(QStringLiteral("2"), QStringLiteral("2"),
                 QStringLiteral("<sparkle:deltas><enclosure url=\"https://example.com/d_9.delta\" "
                                "sparkle:version=\"9\"/></sparkle:deltas>")),
            QStringLiteral("1"), QStringLiteral("2")},
        BestCase{"VersionsOfTooManyPartsAreSkipped",
                 itemWithVersion(u'2' + versionOfParts(101)) + release("1.6"),
                 QStringLiteral("1.5"), QStringLiteral("v1.6")},
        BestCase{"NoItems", {}, QStringLiteral("1"), {}}),
    [](const auto& info) { return std::string(info.param.name); });

struct BrokenCase {
    const char* name;
    QByteArray document;
};

class AppcastBrokenTest : public ::testing::TestWithParam<BrokenCase> {};

TEST_P(AppcastBrokenTest, RefusesTheDocumentWithAReason) {
    const auto appcast = Appcast::parse(GetParam().document, {.maxBytes = 1 << 20, .maxDepth = 32});
    ASSERT_FALSE(appcast);
    EXPECT_FALSE(appcast.error().isEmpty());
}

QByteArray nested(int depth) {
    return feed(
        item(QStringLiteral("2"), QStringLiteral("2"),
             QStringLiteral("<x>").repeated(depth) + QStringLiteral("</x>").repeated(depth)));
}

QByteArray latin1Declaredutf8() {
    QByteArray document = feed(release("2"));
    document.replace("Pixaloom updates", "Pixaloom \xe9t\xe9");
    return document;
}

INSTANTIATE_TEST_SUITE_P(
    Documents, AppcastBrokenTest,
    ::testing::Values(
        BrokenCase{"Empty", {}}, BrokenCase{"NotXml", "<html><body>Not found"},
        BrokenCase{"Html", "<html><body><item>no feed</item></body></html>"},
        BrokenCase{"Truncated", feed(release("2")).left(120)},
        BrokenCase{"NestedTooDeeply", nested(40)}, BrokenCase{"InvalidUtf8", latin1Declaredutf8()},
        BrokenCase{"UnknownEncoding",
                   feed(release("2")).replace("encoding=\"utf-8\"", "encoding=\"x-pixaloom\"")},
        BrokenCase{"TooLarge", feed(release("2").repeated(4000))},
        BrokenCase{"EntityExpansion",
                   "<?xml version=\"1.0\"?><!DOCTYPE rss [<!ENTITY a \"aaaaaaaaaaaaaaaa\">"
                   "<!ENTITY b \"&a;&a;&a;&a;&a;&a;&a;&a;&a;&a;&a;&a;&a;&a;&a;&a;\">"
                   "<!ENTITY c \"&b;&b;&b;&b;&b;&b;&b;&b;&b;&b;&b;&b;&b;&b;&b;&b;\">"
                   "<!ENTITY d \"&c;&c;&c;&c;&c;&c;&c;&c;&c;&c;&c;&c;&c;&c;&c;&c;\">]>"
                   "<rss><channel><item><title>&d;&d;&d;&d;</title></item></channel></rss>"}),
    [](const auto& info) { return std::string(info.param.name); });

// Whoever asked for the feed to be read no longer wants the answer: reading and choosing end
// at once.
TEST(AppcastTest, GivesUpOnceAskedTo) {
    const QByteArray document = feed(release("1.6").repeated(1000));
    std::stop_source abandon;
    abandon.request_stop();
    const auto abandoned = Appcast::parse(document, {}, abandon.get_token());
    ASSERT_FALSE(abandoned);
    EXPECT_EQ(abandoned.error(), Appcast::abandoned);

    const auto appcast = Appcast::parse(document);
    ASSERT_TRUE(appcast);
    EXPECT_TRUE(appcast->validUpdate(QStringLiteral("1.5")));
    EXPECT_FALSE(appcast->validUpdate(QStringLiteral("1.5"), abandon.get_token()));
}

TEST(AppcastTest, ReadsADeclaredLatin1Feed) {
    QByteArray document = feed(release("2"));
    document.replace("encoding=\"utf-8\"", "encoding=\"ISO-8859-1\"");
    document.replace("<title>Version v2</title>", "<title>Version \xe9t\xe9</title>");
    const auto appcast = Appcast::parse(document);
    ASSERT_TRUE(appcast) << appcast.error().toStdString();
    ASSERT_EQ(appcast->items.size(), 1u);
    EXPECT_EQ(appcast->items[0].title, QStringLiteral("Version \u00e9t\u00e9"));
}

} // namespace
