#include <halvik/quorvel/mainwindow.h>
#include <halvik/quorvel/pathdata.h>
#include <halvik/quorvel/pathrun.h>
#include <halvik/quorvel/pathrunhost.h>
#include <halvik/quorvel/resultsview.h>
#include <halvik/quorvel/trackermapping.h>
#include <halvik/resources.h>
#include <halvik/statuscode.h>
#include <halvik/vantor.h>

#include <QtCore/QCoreApplication>
#include <QtCore/QEventLoop>
#include <QtCore/QPointer>
#include <QtCore/QStandardPaths>
#include <QtCore/QTimer>
#include <QtCore/QVariant>
#include <QtGui/QIcon>
#include <QtGui/QMouseEvent>
#include <QtWidgets/QApplication>
#include <QtWidgets/QCheckBox>
#include <QtWidgets/QDoubleSpinBox>
#include <QtWidgets/QFileDialog>
#include <QtWidgets/QGridLayout>
#include <QtWidgets/QGroupBox>
#include <QtWidgets/QHBoxLayout>
#include <QtWidgets/QHeaderView>
#include <QtWidgets/QLabel>
#include <QtWidgets/QMainWindow>
#include <QtWidgets/QPushButton>
#include <QtWidgets/QRadioButton>
#include <QtWidgets/QStatusBar>
#include <QtWidgets/QTableWidget>
#include <QtWidgets/QToolBar>
#include <QtWidgets/QVBoxLayout>
#include <QtWidgets/QWidget>

#include <chrono>
#include <iostream>
#include <random>
#include <thread>

// The form class goes into our namespace, so that a binary linking another program's window
// (whose form is also called Ui_MainWindow) keeps both. Every header the generated code includes
// is included above, so its own includes add nothing inside the namespace.
namespace halvik::quorvel {
#include "ui_mainwindow.h"
} // namespace halvik::quorvel

namespace halvik::quorvel {

namespace {

constexpr int statusTimeoutMs = 5000;

// A generator seeded with one of only 1000 millisecond values. With std::minstd_rand, whose first
// output is 48271 x seed, seeds a few milliseconds apart would draw azimuths in arithmetic
// progression and step signs that follow the seed's parity; seed_seq spreads the seed over the
// whole state.
std::mt19937 seededGenerator(unsigned seed)
{
    std::seed_seq sequence{seed};
    return std::mt19937(sequence);
}

} // namespace

MainWindow::MainWindow(QStringList arguments, QWidget* parent)
    : MainWindow(std::move(arguments), Clock::system(), parent)
{}

MainWindow::MainWindow(QStringList arguments, Clock clockIn, QWidget* parent)
    : QMainWindow(parent)
    , ui(new Ui_MainWindow)
    , clock(std::move(clockIn))
{
    const Clock system = Clock::system();
    if (!clock.timeOfDay) {
        clock.timeOfDay = system.timeOfDay;
    }
    if (!clock.monotonicNow) {
        clock.monotonicNow = system.monotonicNow;
    }
    initResources();
    ui->setupUi(this);

    QTableWidget* table = ui->positionsTableWidget;
    table->setColumnCount(PathColumnCount);
    table->setHorizontalHeaderLabels(pathHeaderLabels());
    table->horizontalHeader()->setSectionResizeMode(QHeaderView::Stretch);
    // A run reads its rows by index, so removing any of them (Clear, a generator, both possible
    // inside a run's wait) ends it rather than letting it read rows that moved or went away.
    connect(table->model(), &QAbstractItemModel::rowsRemoved, this, [this] {
        if (running) {
            endRun(tr("Path run ended: rows were removed"));
        }
    });
    QAbstractItemModel* cells = table->model();
    connect(cells, &QAbstractItemModel::rowsRemoved, this, &MainWindow::scheduleResultsRefresh);
    connect(cells, &QAbstractItemModel::rowsInserted, this, &MainWindow::scheduleResultsRefresh);
    connect(cells, &QAbstractItemModel::modelReset, this, &MainWindow::scheduleResultsRefresh);
    connect(cells, &QAbstractItemModel::dataChanged, this, &MainWindow::scheduleResultsRefresh);
    QAction* resultsAction = ui->mainToolBar->addAction(tr("Results"));
    resultsAction->setObjectName(QStringLiteral("resultsAction"));
    resultsAction->setToolTip(tr("The picture and pointing statistics of the path in the table"));
    connect(resultsAction, &QAction::triggered, this, &MainWindow::showResults);

    if (arguments.size() <= 1) {
        return;
    }
    deviceAddress = arguments.at(1).toLocal8Bit().toStdString();
    const QString address = QString::fromLocal8Bit(deviceAddress.c_str());
    setWindowTitle(address + QStringLiteral(" - Quorvel"));
    try {
        vantor.reset(new Vantor(deviceAddress));
    } catch (const std::exception& e) {
        const QString message =
            tr("Cannot open the link to %1: %2").arg(address, QString::fromLocal8Bit(e.what()));
        std::cerr << "Quorvel: " << message.toLocal8Bit().constData() << std::endl;
        statusBar()->showMessage(message);
        return;
    }
    callDevice("SetAcceleration", [this](Vantor& device) {
        return device.SetAcceleration(ui->accelerationDoubleSpinBox->value());
    });
    statusBar()->showMessage(tr("Ready"));
    ui->mouseTrackerLabel->installEventFilter(this);
}

MainWindow::~MainWindow()
{
    // The table outlives this part of the window and reports its rows going away.
    ui->positionsTableWidget->model()->disconnect(this);
    delete ui;
}

bool MainWindow::eventFilter(QObject* watched, QEvent* event)
{
    if (event->type() != QEvent::MouseMove || watched != ui->mouseTrackerLabel) {
        return QMainWindow::eventFilter(watched, event);
    }
    const auto* mouse = static_cast<QMouseEvent*>(event);
    if (!(mouse->buttons() & Qt::LeftButton)) {
        return true;
    }
    const double x = mouse->position().x();
    const double y = mouse->position().y();
    const double w = ui->mouseTrackerLabel->width();
    const double h = ui->mouseTrackerLabel->height();
    if (x < 0 || x >= w || y < 0 || y >= h) {
        return true;
    }
    trackMouse(x / w, y / h);
    return true;
}

void MainWindow::trackMouse(double xFraction, double yFraction)
{
    const TrackerAngles target = trackerAngles(
        xFraction, yFraction, ui->invertXCheckBox->isChecked(), ui->invertYCheckBox->isChecked());
    const double speed = ui->speedDoubleSpinBox->value();
    if (!vantor) {
        return;
    }
    reportStatus(point(target.azimuth, target.elevation, speed));
}

bool MainWindow::loadPathFile(const QString& fileName)
{
    if (fileName.isEmpty()) {
        return false;
    }
    std::vector<PathRow> rows;
    QString error;
    if (!readPathFile(fileName, rows, &error)) {
        statusBar()->showMessage(tr("Cannot open %1: %2").arg(fileName, error), statusTimeoutMs);
        return false;
    }
    for (const PathRow& row : rows) {
        appendRow(row);
    }
    return true;
}

// --- Slots, in declaration order -------------------------------------------------------------

void MainWindow::on_addCurrentPositionPushButton_clicked()
{
    if (!requireDevice()) {
        return;
    }
    double azimuth = 0.0;
    double elevation = 0.0;
    const int status = callDevice("GetApertureAngles", [&](Vantor& device) {
        return device.GetApertureAngles(azimuth, elevation);
    });
    reportStatus(status);
    // Without a reading the row gets no target items: executing it sends no command, and the
    // user can type the target in.
    PathRow row;
    if (status == status::NoError) {
        row.set(SetPointAz, formatNumber(azimuth));
        row.set(SetPointEl, formatNumber(elevation));
    }
    appendRow(row);
}

void MainWindow::on_executePathPushButton_clicked()
{
    if (!requireDevice()) {
        return;
    }
    pathIndex = 0;
    ++runGeneration;
    running = true;
    if (!pathTimer) {
        pathTimer = new QTimer(this);
        pathTimer->setObjectName(QStringLiteral("pathTimer"));
        pathTimer->setInterval(1);
        connect(pathTimer, &QTimer::timeout, this, &MainWindow::updatePosition);
    }
    // Pressed inside a tick's wait: that tick sees the new generation, returns, and restarts the
    // timer itself, so the new run never starts inside the old tick.
    if (!inTick) {
        pathTimer->start();
    }
}

void MainWindow::on_clearAllPositionsPushButton_clicked()
{
    clearRows();
}

void MainWindow::on_accelerationDoubleSpinBox_valueChanged(double arg1)
{
    if (!requireDevice()) {
        return;
    }
    reportStatus(callDevice("SetAcceleration",
                            [arg1](Vantor& device) { return device.SetAcceleration(arg1); }));
}

void MainWindow::on_getApertureAnglesPushButton_clicked()
{
    if (!requireDevice()) {
        return;
    }
    double azimuth = 0.0;
    double elevation = 0.0;
    const int status = callDevice("GetApertureAngles", [&](Vantor& device) {
        return device.GetApertureAngles(azimuth, elevation);
    });
    // A failed reading delivers no angles; the labels keep the last good ones.
    if (status == status::NoError) {
        ui->currentAzLabel->setText(formatNumber(azimuth));
        ui->currentElLabel->setText(formatNumber(elevation));
    }
    reportStatus(status);
}

void MainWindow::on_movePushButton_clicked()
{
    if (!requireDevice()) {
        return;
    }
    const double speed = ui->speedDoubleSpinBox->value();
    const double azimuth = ui->azimuthDoubleSpinBox->value();
    const double elevation = ui->elevationDoubleSpinBox->value();
    reportStatus(point(azimuth, elevation, speed));
}

void MainWindow::on_generateRandomPathPushButton_clicked()
{
    clearRows();
    const QString speed = formatNumber(ui->speedDoubleSpinBox->value());
    const QString dwell = QString::number(static_cast<int>(ui->delayDoubleSpinBox->value()));
    for (int i = 0; i < 100; ++i) {
        // Seed, sleep, draw: the sleep makes the next row's seed differ.
        std::mt19937 generator = seededGenerator(static_cast<unsigned>(clock.timeOfDay().msec()));
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
        const int azimuth = static_cast<int>(generator() % 361);
        const int elevation = static_cast<int>(generator() % 71) - 35;
        PathRow row;
        row.set(SetPointAz, formatNumber(azimuth));
        row.set(SetPointEl, formatNumber(elevation));
        row.set(SetPointSpeed, speed);
        row.set(SetDwellTime, dwell);
        appendRow(row);
    }
}

void MainWindow::updatePosition()
{
    if (inTick || !running) {
        return;
    }
    inTick = true;
    // No tick falls due while this one waits; the next starts about 1 ms after it returned.
    pathTimer->stop();
    const QPointer<MainWindow> self(this);
    runTick();
    if (!self) {
        return;
    }
    inTick = false;
    if (running) {
        pathTimer->start();
    }
}

void MainWindow::on_randomTrajectoryPushButton_clicked()
{
    if (!requireDevice()) {
        return;
    }
    double azimuth = 0.0;
    double elevation = 0.0;
    const int status = callDevice("GetApertureAngles", [&](Vantor& device) {
        return device.GetApertureAngles(azimuth, elevation);
    });
    lastStatus = status;
    if (status != status::NoError) {
        // A walk needs a start; without a reading the table is left as it was.
        reportStatus(status);
        return;
    }
    clearRows();
    const auto draw = [this](unsigned count) {
        std::mt19937 generator = seededGenerator(static_cast<unsigned>(clock.timeOfDay().msec()));
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
        std::mt19937::result_type first = generator();
        std::mt19937::result_type second = count > 1 ? generator() : 0;
        return std::make_pair(first, second);
    };
    for (int i = 0; i < 100; ++i) {
        auto [hundredths, degrees] = draw(2);
        double azimuthStep = static_cast<double>(hundredths % 100) / 100.0 + degrees % 6;
        if (draw(1).first % 2 == 1) {
            azimuthStep = -azimuthStep;
        }
        std::tie(hundredths, degrees) = draw(2);
        double elevationStep = static_cast<double>(hundredths % 100) / 100.0 + degrees % 3;
        if (draw(1).first % 2 == 1) {
            elevationStep = -elevationStep;
        }
        azimuth += azimuthStep;
        elevation += elevationStep;
        if (azimuth < 0.0) {
            azimuth = 0.0;
        } else if (azimuth > 360.0) {
            azimuth = 360.0;
        }
        if (elevation < -35.0) {
            elevation = -35.0;
        } else if (elevation > 35.0) {
            elevation = 35.0;
        }
        PathRow row;
        row.set(SetPointAz, formatNumber(azimuth));
        row.set(SetPointEl, formatNumber(elevation));
        appendRow(row);
    }
}

void MainWindow::on_homePushButton_clicked()
{
    if (!requireDevice()) {
        return;
    }
    callDevice("Home", [](Vantor& device) { return device.Home(); });
}

void MainWindow::on_pushButton_clicked()
{
    QString selectedFilter = QStringLiteral("*.csv");
    const QString fileName = QFileDialog::getOpenFileName(
        this, tr("Load CSV file"),
        QStandardPaths::writableLocation(QStandardPaths::DesktopLocation),
        tr("CSV Path Data (*.csv)"), &selectedFilter);
    loadPathFile(fileName);
}

// --- Path execution --------------------------------------------------------------------------

class MainWindow::RunHost final : public PathRunHost
{
public:
    RunHost(MainWindow& window, int generation)
        : window(window)
        , generation(generation)
    {}

    int rowCount() const override { return window.ui->positionsTableWidget->rowCount(); }
    PathRow row(int i) const override { return window.rowAt(i); }
    void setActual(int i, double azimuth, double elevation) override
    {
        window.setActual(i, azimuth, elevation);
    }
    double fallbackSpeed() const override { return window.ui->speedDoubleSpinBox->value(); }
    int fallbackFirstWaitMs() const override
    {
        return static_cast<int>(window.ui->delayDoubleSpinBox->value());
    }
    int fallbackSecondWaitMs() const override
    {
        return static_cast<int>(window.ui->delay2DoubleSpinBox->value());
    }
    bool wait(int ms) override { return window.waitInRun(ms, generation); }
    int readAngles(double& azimuth, double& elevation) override
    {
        return window.callDevice("GetApertureAngles", [&](Vantor& device) {
            return device.GetApertureAngles(azimuth, elevation);
        });
    }
    int point(double azimuth, double elevation, double speed) override
    {
        window.lastStatus = window.point(azimuth, elevation, speed);
        return window.lastStatus;
    }
    QTime timeOfDay() const override { return window.clock.timeOfDay(); }
    std::chrono::steady_clock::time_point monotonicNow() const override
    {
        return window.clock.monotonicNow();
    }
    void log(const std::string& line) override { std::cout << line << std::endl; }

private:
    MainWindow& window;
    /// The run this tick belongs to; a wait ends early once another run has started.
    const int generation;
};

void MainWindow::runTick()
{
    RunHost host(*this, runGeneration);
    if (runPathTick(host, pathIndex) == PathTick::Complete) {
        running = false;
        pathTimer->stop();
        writePathResults();
    }
}

bool MainWindow::waitInRun(int ms, int generation)
{
    using namespace std::chrono;
    const QPointer<MainWindow> self(this);
    const auto stillCurrent = [&] { return self && running && runGeneration == generation; };
    if (ms <= 0) {
        return stillCurrent();
    }
    const auto deadline = clock.monotonicNow() + milliseconds(ms);
    for (auto now = clock.monotonicNow(); now < deadline; now = clock.monotonicNow()) {
        // The window's other slots run inside this loop; the precise timer ends it without
        // polling and never early.
        const auto remaining = ceil<milliseconds>(deadline - now);
        QEventLoop loop;
        QTimer timer;
        timer.setSingleShot(true);
        timer.setTimerType(Qt::PreciseTimer);
        bool expired = false;
        connect(&timer, &QTimer::timeout, &loop, [&] {
            expired = true;
            loop.quit();
        });
        timer.start(static_cast<int>(remaining.count()));
        loop.exec();
        if (!stillCurrent()) {
            return false;
        }
        if (!expired) {
            // Only QCoreApplication::exit ends the loop otherwise: the program is closing.
            running = false;
            return false;
        }
    }
    return stillCurrent();
}

void MainWindow::endRun(const QString& message)
{
    running = false;
    ++runGeneration;
    if (pathTimer) {
        pathTimer->stop();
    }
    statusBar()->showMessage(message, statusTimeoutMs);
}

void MainWindow::writePathResults()
{
    const QString fileName =
        resultsFileName(ui->accelerationDoubleSpinBox->value(), ui->speedDoubleSpinBox->value(),
                        ui->delayDoubleSpinBox->value());
    std::vector<PathRow> rows;
    const int n = ui->positionsTableWidget->rowCount();
    rows.reserve(static_cast<std::size_t>(n));
    for (int row = 0; row < n; ++row) {
        rows.push_back(rowAt(row));
    }
    QString error;
    if (!writeResultsFile(fileName, rows, &error)) {
        const QString message = tr("Cannot write %1: %2").arg(fileName, error);
        std::cerr << "Quorvel: " << message.toLocal8Bit().constData() << std::endl;
        statusBar()->showMessage(message, statusTimeoutMs);
    }
    // The totals are shown and logged even without a file, so the run is not lost entirely.
    const ErrorTotals totals = errorTotals(rows);
    ui->elErrorValue->setText(formatNumber(totals.elevation));
    ui->azErrorValue->setText(formatNumber(totals.azimuth));
    QCoreApplication::processEvents();
    std::cout << currentErrorLine(totals.sum()) << std::endl;
}

// --- Helpers ---------------------------------------------------------------------------------

bool MainWindow::requireDevice()
{
    if (vantor) {
        return true;
    }
    statusBar()->showMessage(tr("No device connected"), statusTimeoutMs);
    return false;
}

int MainWindow::callDevice(const char* operation, const std::function<int(Vantor&)>& call)
{
    linkFailureShown = false;
    try {
        return call(*vantor);
    } catch (const std::exception& e) {
        const QString message =
            tr("%1 failed: %2").arg(QLatin1String(operation), QString::fromLocal8Bit(e.what()));
        std::cerr << "Quorvel: " << message.toLocal8Bit().constData() << std::endl;
        statusBar()->showMessage(message, statusTimeoutMs);
        linkFailureShown = true;
        return status::OtherError;
    }
}

int MainWindow::point(double azimuth, double elevation, double speed)
{
    if (ui->trackApertureAnglesRadioButton->isChecked()) {
        return callDevice("TrackApertureAngles", [&](Vantor& device) {
            return device.TrackApertureAngles(azimuth, elevation, speed);
        });
    }
    return callDevice("SetApertureAngles", [&](Vantor& device) {
        return device.SetApertureAngles(azimuth, elevation, speed);
    });
}

void MainWindow::reportStatus(int status)
{
    lastStatus = status;
    if (linkFailureShown) {
        // The link's own message is more telling than "Other Error"; leave it showing.
        linkFailureShown = false;
        return;
    }
    statusBar()->showMessage(QString::fromStdString(Vantor::StatusText(status)), statusTimeoutMs);
}

PathRow MainWindow::rowAt(int row) const
{
    PathRow result;
    for (int column = 0; column < PathColumnCount; ++column) {
        if (const QTableWidgetItem* item = ui->positionsTableWidget->item(row, column)) {
            result.set(column, item->text());
        }
    }
    return result;
}

void MainWindow::appendRow(const PathRow& row)
{
    QTableWidget* table = ui->positionsTableWidget;
    const int index = table->rowCount();
    table->insertRow(index);
    for (int column = 0; column < PathColumnCount; ++column) {
        if (row.has(column)) {
            table->setItem(index, column, new QTableWidgetItem(row.cells[column].text));
        }
    }
}

void MainWindow::clearRows()
{
    QTableWidget* table = ui->positionsTableWidget;
    for (int n = table->rowCount(); n > 0; --n) {
        table->removeRow(0);
    }
}

void MainWindow::setActual(int row, double azimuth, double elevation)
{
    QTableWidget* table = ui->positionsTableWidget;
    table->setItem(row, ActualAz, new QTableWidgetItem(formatNumber(azimuth)));
    table->setItem(row, ActualEl, new QTableWidgetItem(formatNumber(elevation)));
}

void MainWindow::showResults()
{
    if (!results) {
        // A child window: it closes with Quorvel's.
        results = new ResultsView(this);
    }
    results->show();
    results->raise();
    scheduleResultsRefresh();
}

void MainWindow::scheduleResultsRefresh()
{
    // setActual changes two cells per row; one redraw covers a burst of changes.
    if (!results || !results->isVisible() || resultsRefreshPending) {
        return;
    }
    resultsRefreshPending = true;
    QTimer::singleShot(0, this, [this] {
        resultsRefreshPending = false;
        std::vector<PathRow> rows;
        for (int i = 0; i < ui->positionsTableWidget->rowCount(); ++i) {
            rows.push_back(rowAt(i));
        }
        results->setRows(
            std::move(rows),
            deviceAddress.empty()
                ? tr("Path table")
                : tr("Path run on %1").arg(QString::fromLocal8Bit(deviceAddress.c_str())));
    });
}

} // namespace halvik::quorvel
