#pragma once

#include <halvik/quorvel/clock.h>
#include <halvik/quorvel/mainwindow.h>
#include <halvik/simulateddevice.h>

#include <QtCore/QDir>
#include <QtCore/QTemporaryDir>
#include <QtCore/QTimer>
#include <QtTest/QTest>
#include <QtWidgets/QAbstractButton>
#include <QtWidgets/QStatusBar>
#include <QtWidgets/QTableWidget>

#include <gtest/gtest.h>

#include <iostream>
#include <memory>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

namespace halvik::quorvel::test {

/// Replaces a standard stream's buffer for the lifetime of the object.
class StreamCapture
{
public:
    explicit StreamCapture(std::ostream& stream)
        : stream(stream)
        , previous(stream.rdbuf(buffer.rdbuf()))
    {}
    ~StreamCapture() { stream.rdbuf(previous); }
    StreamCapture(const StreamCapture&) = delete;
    StreamCapture& operator=(const StreamCapture&) = delete;

    std::string text() const { return buffer.str(); }
    std::vector<std::string> lines() const
    {
        std::vector<std::string> result;
        std::istringstream in(buffer.str());
        for (std::string line; std::getline(in, line);) {
            result.push_back(line);
        }
        return result;
    }

private:
    std::ostream& stream;
    std::ostringstream buffer;
    std::streambuf* previous;
};

/// Signed 16-bit field at byte offset of a datagram.
inline int field16(const std::string& bytes, std::size_t offset)
{
    const auto hi = static_cast<unsigned char>(bytes.at(offset));
    const auto lo = static_cast<unsigned char>(bytes.at(offset + 1));
    return static_cast<std::int16_t>(static_cast<std::uint16_t>(hi << 8 | lo));
}

/// A window in a working directory of its own, with or without a simulated device on
/// 127.0.3.n:4365 (each test picks its own n, so tests run in parallel).
class WindowTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        ASSERT_TRUE(workDir.isValid());
        previousDir = QDir::currentPath();
        QDir::setCurrent(workDir.path());
    }
    void TearDown() override
    {
        window.reset();
        device.reset();
        QDir::setCurrent(previousDir);
    }

    static std::string addressOf(int n) { return "127.0.3." + std::to_string(n); }

    /// Device options for 127.0.3.n: exact read-back, no broadcast listening.
    static sim::DeviceOptions deviceOn(int n)
    {
        sim::DeviceOptions options;
        options.address = addressOf(n);
        options.port = 4365;
        options.listenBroadcast = false;
        options.readbackNoise = 0.0;
        return options;
    }

    /// Starts the device, then the window for it.
    void start(const sim::DeviceOptions& options, Clock clock = Clock::system())
    {
        device = std::make_unique<sim::SimulatedDevice>(options);
        window = std::make_unique<MainWindow>(
            QStringList{"quorvel", QString::fromStdString(options.address)}, clock);
        window->show();
    }
    void start(int n) { start(deviceOn(n)); }

    /// A window without a device.
    void startWithout(QStringList arguments = {"quorvel"})
    {
        window = std::make_unique<MainWindow>(arguments);
        window->show();
    }

    template <typename T> T* widget(const char* name) const
    {
        T* found = window->findChild<T*>(QString::fromLatin1(name));
        EXPECT_NE(found, nullptr) << name;
        return found;
    }
    void click(const char* name) { widget<QAbstractButton>(name)->click(); }
    QString status() const { return window->statusBar()->currentMessage(); }
    /// How long the status bar keeps its message: the interval of the timer that QStatusBar
    /// keeps for a timed message, 0 for a message without time-out.
    int statusTimeout() const
    {
        const QTimer* timer = window->statusBar()->findChild<QTimer*>();
        return timer && timer->isActive() ? timer->interval() : 0;
    }
    QTableWidget* table() const { return widget<QTableWidget>("positionsTableWidget"); }

    /// The cell's text, or nothing when it has no item.
    std::optional<QString> cell(int row, int column) const
    {
        const QTableWidgetItem* item = table()->item(row, column);
        return item ? std::optional<QString>(item->text()) : std::nullopt;
    }
    void addRow(const std::vector<std::optional<QString>>& cells)
    {
        const int row = table()->rowCount();
        table()->insertRow(row);
        for (std::size_t c = 0; c < cells.size(); ++c) {
            if (cells[c]) {
                table()->setItem(row, static_cast<int>(c), new QTableWidgetItem(*cells[c]));
            }
        }
    }

    /// Presses Execute Path and lets the run finish.
    bool runPath(int timeoutMs = 30000)
    {
        click("executePathPushButton");
        return QTest::qWaitFor([this] { return !window->pathRunning(); }, timeoutMs);
    }

    std::size_t sent(const std::string& code) const { return device->requests(code).size(); }

    QTemporaryDir workDir;
    QString previousDir;
    std::unique_ptr<sim::SimulatedDevice> device;
    std::unique_ptr<MainWindow> window;
};

} // namespace halvik::quorvel::test
