#include "mainwindow.h"
#include "ui_mainwindow.h"
#include "vantormodel.h"

#include <halvik/resources.h>

#include <QApplication>
#include <QCommandLineParser>
#include <QTimer>

#include <iostream>

namespace {

// Scripted runs (--list, --launch, --screenshot) act once the first discovery is done.
int runScripted(QApplication& app, MainWindow& window, const QCommandLineParser& parser,
                const QCommandLineOption& list, const QCommandLineOption& launch,
                const QCommandLineOption& device, const QCommandLineOption& screenshot)
{
    Ui_MainWindow* ui = window.form();
    if (parser.isSet(list)) {
        const VantorModel* model = window.deviceModel();
        for (int row = 0; row < model->rowCount(); ++row) {
            std::cout << model->data(model->index(row, 0)).toString().toStdString() << '\t'
                      << model->data(model->index(row, 1)).toString().toStdString() << '\n';
        }
        std::cerr << ui->statusBar->currentMessage().toStdString() << std::endl;
        return window.deviceModel()->rowCount() > 0 ? 0 : 1;
    }
    if (parser.isSet(launch)) {
        const int appIndex = ui->applicationComboBox->findText(parser.value(launch));
        if (appIndex < 0) {
            std::cerr << "vantor_manager: no program \"" << parser.value(launch).toStdString()
                      << "\" beside the manager" << std::endl;
            return 2;
        }
        ui->applicationComboBox->setCurrentIndex(appIndex);
        if (parser.isSet(device)) {
            const int deviceIndex = ui->vantorsComboBox->findText(parser.value(device));
            if (deviceIndex < 0) {
                std::cerr << "vantor_manager: no Vantor \"" << parser.value(device).toStdString()
                          << "\" found" << std::endl;
                return 1;
            }
            ui->vantorsComboBox->setCurrentIndex(deviceIndex);
        }
        ui->LaunchPushButton->click();
        if (window.lastLaunchedPid() == 0) {
            std::cerr << "vantor_manager: the program did not start" << std::endl;
            return 1;
        }
        std::cerr << "launched pid " << window.lastLaunchedPid() << std::endl;
        return 0;
    }
    window.show();
    const QString file = parser.value(screenshot);
    int result = 0;
    QTimer::singleShot(500, &app, [&] {
        result = window.grab().save(file) ? 0 : 1;
        if (result != 0) {
            std::cerr << "vantor_manager: cannot write " << file.toStdString() << std::endl;
        }
        app.quit();
    });
    app.exec();
    return result;
}

} // namespace

int main(int argc, char** argv)
{
    QApplication app(argc, argv);
    halvik::initResources();
    QApplication::setApplicationName(QStringLiteral("Vantor Manager"));
    QApplication::setOrganizationName(QStringLiteral("Halvik Robotics"));
    QApplication::setApplicationVersion(QStringLiteral(HALVIK_VERSION));

    QCommandLineParser parser;
    parser.setApplicationDescription(
        QStringLiteral("Finds Vantors by broadcast, changes their IP addresses and launches a "
                       "companion program (such as quorvel) for the chosen device."));
    parser.addHelpOption();
    parser.addVersionOption();
    const QCommandLineOption broadcast(
        QStringLiteral("broadcast"),
        QStringLiteral("Broadcast address of the discovery (default 255.255.255.255; "
                       "127.255.255.255 reaches simulated devices on this machine)."),
        QStringLiteral("ADDRESS"), QStringLiteral("255.255.255.255"));
    const QCommandLineOption port(QStringLiteral("port"),
                                  QStringLiteral("UDP port of the devices (default 4365)."),
                                  QStringLiteral("PORT"), QStringLiteral("4365"));
    const QCommandLineOption list(
        QStringLiteral("list"),
        QStringLiteral("Print the devices found (serial, tab, IP) and exit; exit status 1 "
                       "when none answered."));
    const QCommandLineOption launch(
        QStringLiteral("launch"),
        QStringLiteral("Launch PROGRAM (from the manager's directory) for the device chosen "
                       "with --device (default: the first found), then exit."),
        QStringLiteral("PROGRAM"));
    const QCommandLineOption device(QStringLiteral("device"),
                                    QStringLiteral("Serial of the device for --launch."),
                                    QStringLiteral("SERIAL"));
    const QCommandLineOption screenshot(
        QStringLiteral("screenshot"),
        QStringLiteral("Show the window, save a picture of it to FILE (PNG) and exit."),
        QStringLiteral("FILE"));
    parser.addOptions({broadcast, port, list, launch, device, screenshot});
    parser.process(app);

    ManagerSettings settings;
    settings.broadcastAddress = parser.value(broadcast);
    bool portOk = false;
    const uint portValue = parser.value(port).toUInt(&portOk);
    if (!portOk || portValue == 0 || portValue > 65535) {
        std::cerr << "vantor_manager: --port needs a number from 1 to 65535" << std::endl;
        return 2;
    }
    settings.port = static_cast<quint16>(portValue);

    MainWindow window(settings);
    if (parser.isSet(list) || parser.isSet(launch) || parser.isSet(screenshot)) {
        return runScripted(app, window, parser, list, launch, device, screenshot);
    }
    window.show();
    return app.exec();
}
