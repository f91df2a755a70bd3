#include "EditViewControllerInspector.h"

#include "LogCapture.h"

#include <gtest/gtest.h>

using namespace editor_test;
using Inspector = EditViewControllerInspector;

namespace {

struct CompositionFixture : ::testing::Test {
    // A 400 x 300 base: opaque green, with a fully transparent 100 x 100 square at (0, 0).
    static QImage baseWithHole() {
        QImage image = solidImage(400, 300, Qt::green);
        for (int y = 0; y < 100; ++y)
            for (int x = 0; x < 100; ++x)
                image.setPixelColor(x, y, Qt::transparent);
        return image;
    }
    void changeBackground(QColor color, qreal horizontal, qreal vertical) {
        controller->controlPanelDidChangeBackgroundColorHorizontalPaddingVerticalPadding(
            Inspector::panel(*controller), color, horizontal, vertical);
    }
    QImage shown() const { return Inspector::shown(*controller); }

    TemporarySettings settings;
    std::shared_ptr<EditViewController> controller = makeController(baseWithHole());
};

TEST_F(CompositionFixture, PlacesTheBaseInsideColouredMargins) {
    struct Case {
        QColor color;
        qreal horizontal, vertical;
        QSize canvas;
    };
    const Case cases[] = {
        {Qt::red, 30, 10, {460, 320}},
        {QColor(0, 0, 255, 128), 20, 20, {440, 340}},
        {Qt::white, 0, 0, {400, 300}}, // Reset All: the base alone, still one new entry
    };
    std::size_t entries = Inspector::history(*controller).size();
    for (const auto& c : cases) {
        SCOPED_TRACE(c.canvas.width());
        changeBackground(c.color, c.horizontal, c.vertical);
        const QImage image = shown();
        ASSERT_EQ(image.size(), c.canvas);
        EXPECT_EQ(Inspector::history(*controller).size(), ++entries);
        EXPECT_EQ(Inspector::currentPadding(*controller), std::max(c.horizontal, c.vertical));
        EXPECT_TRUE(Inspector::hasBackgroundColor(*controller));
        const int h = int(c.horizontal), v = int(c.vertical);
        if (h > 0 && v > 0) {
            EXPECT_EQ(image.pixelColor(0, 0), c.color) << "margin keeps the colour's alpha";
            EXPECT_EQ(image.pixelColor(h - 1, v + 150), c.color);
        }
        EXPECT_EQ(image.pixelColor(h + 200, v + 200), QColor(Qt::green));
        EXPECT_EQ(image.pixelColor(h + 399, v + 299), QColor(Qt::green));
        EXPECT_EQ(image.pixelColor(h + 10, v + 10).alpha(), 0) << "transparent base stays so";
    }
}

TEST_F(CompositionFixture, SuccessiveChangesComposeTheSameBase) {
    changeBackground(Qt::red, 20, 20);
    changeBackground(Qt::red, 40, 40);
    EXPECT_EQ(shown().size(), QSize(480, 380));
    EXPECT_EQ(Inspector::originalImage(*controller).size(), QSize(400, 300));
    EXPECT_EQ(Inspector::history(*controller).size(), 3u);
    // Undo does not change the base: the next change composes it again.
    controller->performUndo();
    controller->performUndo();
    changeBackground(Qt::blue, 10, 10);
    EXPECT_EQ(shown().size(), QSize(420, 320));
    EXPECT_EQ(Inspector::history(*controller).size(), 2u);
}

TEST_F(CompositionFixture, LegacySinglePaddingLogsAndComposes) {
    LogCapture logs;
    controller->controlPanelDidChangeBackgroundColorPadding(Inspector::panel(*controller), Qt::red,
                                                            12.5);
    EXPECT_EQ(shown().size(), QSize(425, 325));
    changeBackground(Qt::red, 3, 4);
    EXPECT_EQ(logs.messages("com.app.pixaloom.EditViewController"),
              QStringList({"Legacy padding method called with padding: 12.500000",
                           "Applying background color and padding: h=3.000000, v=4.000000"}));
}

TEST(Composition, WithoutAnImageOnlyStoresTheChoice) {
    TemporarySettings settings;
    auto controller = makeController(QImage());
    controller->controlPanelDidChangeBackgroundColorHorizontalPaddingVerticalPadding(
        Inspector::panel(*controller), Qt::red, 10, 20);
    EXPECT_TRUE(Inspector::history(*controller).empty());
    EXPECT_FALSE(Inspector::hasBackgroundColor(*controller));
    EXPECT_EQ(Inspector::currentPadding(*controller), 20);
}

} // namespace
