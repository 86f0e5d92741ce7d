#include "mainwindow.h"

#include "ui_mainwindow.h"
#include "vantormodel.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QHeaderView>
#include <QProcess>

#include <iostream>

namespace {
constexpr int messageMs = 5000;
}

MainWindow::MainWindow(QWidget* parent)
    : MainWindow(ManagerSettings(), parent)
{}

MainWindow::MainWindow(const ManagerSettings& s, QWidget* parent)
    : QMainWindow(parent)
    , ui(new Ui_MainWindow)
    , model(nullptr)
    , settings(s)
{
    ui->setupUi(this);
    ui->statusBar->showMessage(tr("Ready"));
    model = new VantorModel(settings.broadcastAddress, settings.port, this);
    ui->vantorsTableView->setModel(model);
    ui->vantorsTableView->horizontalHeader()->setSectionResizeMode(QHeaderView::Stretch);
    searchVantors();
    connect(model, &VantorModel::showMessage, ui->statusBar, &QStatusBar::showMessage);
    fillApplicationList();
}

MainWindow::~MainWindow()
{
    delete ui;
}

int MainWindow::searchVantors()
{
    const int count = model->refresh();
    QString text;
    if (count < 1) {
        text = QStringLiteral("No Vantors found");
    } else if (count == 1) {
        text = QStringLiteral("1 Vantor found");
    } else {
        text = QString::number(count) + QStringLiteral(" Vantors found");
    }
    if (!model->linkError().isEmpty()) {
        text += QStringLiteral(" - ") + model->linkError();
    }
    ui->statusBar->showMessage(text, messageMs);
    ui->vantorsComboBox->setModel(model);
    ui->vantorsComboBox->setModelColumn(0);
    // QComboBox::setModel chooses the first row only for a model it does not have yet, and the
    // combo box does not follow layoutChanged: every refresh chooses the first device here.
    ui->vantorsComboBox->setCurrentIndex(model->rowCount() > 0 ? 0 : -1);
    ui->vantorsComboBox->setMinimumWidth(ui->vantorsComboBox->minimumSizeHint().width());
    return count;
}

QString MainWindow::applicationDirectory() const
{
    return settings.applicationDirectory.isEmpty() ? QCoreApplication::applicationDirPath()
                                                   : settings.applicationDirectory;
}

void MainWindow::fillApplicationList()
{
    ui->applicationComboBox->clear();
    const QString own = settings.ownExecutableName.isEmpty()
                            ? QFileInfo(QCoreApplication::applicationFilePath()).fileName()
                            : settings.ownExecutableName;
    const QDir dir(applicationDirectory());
    const QStringList names =
        dir.entryList(QDir::Files | QDir::Executable, QDir::Name | QDir::IgnoreCase);
    for (const QString& name : names) {
        if (name != own) {
            ui->applicationComboBox->addItem(name);
        }
    }
}

void MainWindow::on_searchVantorsPushButton_clicked()
{
    searchVantors();
}

void MainWindow::on_vantorsTableView_clicked(QModelIndex index)
{
    ui->vantorsComboBox->setCurrentIndex(index.row());
}

void MainWindow::on_LaunchPushButton_clicked()
{
    const QString serial = ui->vantorsComboBox->currentText();
    const QString application = ui->applicationComboBox->currentText();
    std::cout << serial.toLocal8Bit().constData() << std::endl;
    std::cout << application.toLocal8Bit().constData() << std::endl;

    const QString program = QDir::toNativeSeparators(QDir(applicationDirectory()).absolutePath() +
                                                     QStringLiteral("/") + application);
    launchProgram = program;
    QStringList arguments;
    if (model->rowCount() > 0) {
        const QString address = model->addressOf(serial);
        if (address.isEmpty()) {
            // The combo box lags behind the table after an address edit's refresh.
            ui->statusBar->showMessage(
                tr("Vantor \"%1\" is no longer listed: press Refresh").arg(serial), messageMs);
            return;
        }
        arguments << address;
    }
    launchedPid = 0;
    if (!QProcess::startDetached(program, arguments, QDir::currentPath(), &launchedPid)) {
        launchedPid = 0;
    }
}
