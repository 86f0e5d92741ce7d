#include <halvik/quorvel/mainwindow.h>

#include <QtWidgets/QApplication>

int main(int argc, char* argv[])
{
    QApplication application(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("Quorvel"));
    QCoreApplication::setOrganizationName(QStringLiteral("Halvik Robotics"));
    int exitCode = 0;
    {
        halvik::quorvel::MainWindow window(QCoreApplication::arguments());
        window.show();
        exitCode = QApplication::exec();
    }
    return exitCode;
}
