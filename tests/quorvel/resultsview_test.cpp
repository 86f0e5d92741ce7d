#include "windowfixture.h"

#include <halvik/quorvel/resultsview.h>

#include <QtGui/QAction>
#include <QtGui/QImage>
#include <QtWidgets/QDoubleSpinBox>
#include <QtWidgets/QLabel>
#include <QtWidgets/QTableWidget>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

using halvik::quorvel::ResultsView;
using halvik::quorvel::test::WindowTest;
using ::testing::HasSubstr;

class ResultsViewTest : public WindowTest
{
protected:
    std::string summary() const
    {
        return window->resultsView()->summaryLabel()->text().toStdString();
    }
    QString axisCell(int row, int column) const
    {
        const QTableWidgetItem* item = window->resultsView()->axisTable()->item(row, column);
        return item ? item->text() : QString();
    }
};

// The tool bar's Results opens a window that follows the run as rows are read back and ends with
// the run's figures; the device is off by a fixed offset, so every figure is known.
TEST_F(ResultsViewTest, FollowsARunAndShowsItsFigures)
{
    auto options = deviceOn(40);
    options.offset = {0.5, -0.25};
    start(options);
    widget<QDoubleSpinBox>("delayDoubleSpinBox")->setValue(150);
    widget<QDoubleSpinBox>("delay2DoubleSpinBox")->setValue(10);
    addRow({QString("10"), QString("5")});
    addRow({QString("20"), QString("-5")});
    addRow({QString("10"), QString("5")});
    // Held one row longer: a run reads its last row at once after commanding it.
    addRow({QString("10"), QString("5")});

    QAction* results = window->findChild<QAction*>(QStringLiteral("resultsAction"));
    ASSERT_NE(results, nullptr);
    results->trigger();
    ASSERT_NE(window->resultsView(), nullptr);
    EXPECT_TRUE(window->resultsView()->isVisible());
    EXPECT_TRUE(QTest::qWaitFor([&] { return summary().find("Rows read back: 0 (4") == 0; }));

    click("executePathPushButton");
    // Part-way: the first row is read back while the run goes on.
    EXPECT_TRUE(QTest::qWaitFor([&] { return summary().find("Rows read back: 1 ") == 0; }, 10000))
        << summary();
    EXPECT_TRUE(window->pathRunning());
    ASSERT_TRUE(QTest::qWaitFor([this] { return !window->pathRunning(); }, 30000));
    EXPECT_TRUE(QTest::qWaitFor([&] { return summary().find("Rows read back: 4\n") == 0; }))
        << summary();

    EXPECT_EQ(axisCell(0, 0), "0.5000"); // bias
    EXPECT_EQ(axisCell(0, 1), "-0.2500");
    EXPECT_EQ(axisCell(1, 0), "0.0000"); // standard deviation
    EXPECT_EQ(axisCell(3, 1), "0.2500"); // max |error|
    EXPECT_EQ(axisCell(4, 0), "2.0000"); // the results line's sums
    EXPECT_EQ(axisCell(4, 1), "1.0000");
    const QTableWidget* targets = window->resultsView()->targetTable();
    ASSERT_EQ(targets->rowCount(), 1);
    EXPECT_EQ(targets->item(0, 0)->text(), "10");
    EXPECT_EQ(targets->item(0, 2)->text(), "3");
    // The main window's own totals are untouched.
    EXPECT_EQ(widget<QLabel>("azErrorValue")->text(), "2");

    const QString picture = workDir.filePath("results.png");
    QString error;
    ASSERT_TRUE(window->resultsView()->savePicture(picture, &error)) << error.toStdString();
    EXPECT_FALSE(QImage(picture).isNull());
    EXPECT_FALSE(window->resultsView()->savePicture(workDir.filePath("no/such/dir/r.png")));
}
