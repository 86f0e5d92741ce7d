// Saves a picture of the window in use: a simulated device, a generated path after a short run.
// Run under a real X server (scripts/screenshot-quorvel uses Xvfb): quorvel_screenshot OUT.png
#include <halvik/quorvel/mainwindow.h>
#include <halvik/simulateddevice.h>

#include <QtCore/QDir>
#include <QtCore/QFileInfo>
#include <QtCore/QTemporaryDir>
#include <QtTest/QTest>
#include <QtWidgets/QApplication>
#include <QtWidgets/QDoubleSpinBox>
#include <QtWidgets/QPushButton>
#include <QtWidgets/QTableWidget>

#include <iostream>

int main(int argc, char* argv[])
{
    QApplication application(argc, argv);
    if (argc < 2) {
        std::cerr << "usage: quorvel_screenshot OUT.png\n";
        return 2;
    }
    const QString out = QFileInfo(QString::fromLocal8Bit(argv[1])).absoluteFilePath();
    // The run's results file goes to a scratch directory, not next to the picture.
    QTemporaryDir scratch;
    QDir::setCurrent(scratch.path());
    halvik::sim::DeviceOptions options;
    options.address = "127.0.3.251";
    options.listenBroadcast = false;
    options.initialAzimuth = 123.45;
    options.initialElevation = 12.5;
    halvik::sim::SimulatedDevice device(options);

    halvik::quorvel::MainWindow window({"quorvel", "127.0.3.251"});
    window.show();
    auto button = [&](const char* name) { return window.findChild<QPushButton*>(name); };
    auto spin = [&](const char* name) { return window.findChild<QDoubleSpinBox*>(name); };
    button("getApertureAnglesPushButton")->click();
    spin("delayDoubleSpinBox")->setValue(20);
    spin("delay2DoubleSpinBox")->setValue(20);
    button("randomTrajectoryPushButton")->click();
    auto* table = window.findChild<QTableWidget*>("positionsTableWidget");
    while (table->rowCount() > 8) {
        table->removeRow(table->rowCount() - 1);
    }
    button("executePathPushButton")->click();
    if (!QTest::qWaitFor([&] { return !window.pathRunning(); }, 30000)) {
        std::cerr << "the path run did not finish\n";
        return 1;
    }
    QTest::qWait(300);
    if (!window.grab().save(out)) {
        std::cerr << "cannot save " << argv[1] << "\n";
        return 1;
    }
    return 0;
}
