#include <halvik/quorvel/mainwindow.h>

#include <QtCore/QTimer>
#include <QtWidgets/QApplication>

#include <iostream>

namespace {

const char usage[] =
    "Usage: quorvel [ADDRESS] [--screenshot FILE]\n"
    "       quorvel --help | --version\n"
    "\n"
    "The Vantor pointing test program. ADDRESS is the device's dotted IPv4 address (UDP port\n"
    "4365); without it the window runs without a device. Further arguments are ignored.\n"
    "The timing log of a path run goes to standard output; each run writes\n"
    "a<acceleration>_s<speed>_d<delay>ms.csv to the current directory.\n"
    "\n"
    "  --screenshot FILE  show the window, save a picture of it (PNG) and exit\n"
    "  --help             this text\n"
    "  --version          the version\n";

} // namespace

int main(int argc, char* argv[])
{
    // Options never collide with the address: no IPv4 address starts with "-".
    QString screenshot;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg == "--help" || arg == "-h") {
            std::cout << usage;
            return 0;
        }
        if (arg == "--version") {
            std::cout << "quorvel " << HALVIK_VERSION << std::endl;
            return 0;
        }
        if (arg == "--screenshot") {
            if (i + 1 >= argc) {
                std::cerr << "quorvel: --screenshot needs a file name\n" << usage;
                return 2;
            }
            screenshot = QString::fromLocal8Bit(argv[++i]);
        }
    }

    QApplication application(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("Quorvel"));
    QCoreApplication::setOrganizationName(QStringLiteral("Halvik Robotics"));
    QCoreApplication::setApplicationVersion(QStringLiteral(HALVIK_VERSION));

    QStringList arguments = QCoreApplication::arguments();
    for (int i = 1; i < arguments.size(); ++i) {
        if (arguments[i] == QLatin1String("--screenshot")) {
            arguments.remove(i, qMin<qsizetype>(2, arguments.size() - i));
            break;
        }
    }

    int exitCode = 0;
    {
        halvik::quorvel::MainWindow window(arguments);
        window.show();
        if (!screenshot.isEmpty()) {
            QTimer::singleShot(500, &window, [&] {
                if (!window.grab().save(screenshot)) {
                    std::cerr << "quorvel: cannot write " << screenshot.toStdString() << std::endl;
                    exitCode = 1;
                }
                QApplication::quit();
            });
        }
        const int loopCode = QApplication::exec();
        if (exitCode == 0) {
            exitCode = loopCode;
        }
    }
    return exitCode;
}
