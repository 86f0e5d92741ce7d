#pragma once

#include <halvik/quorvel/clock.h>

#include <QtCore/QStringList>
#include <QtWidgets/QMainWindow>

#include <boost/shared_ptr.hpp>

#include <functional>
#include <string>

class QTimer;

namespace halvik {
class Vantor;
}

namespace halvik::quorvel {

class Ui_MainWindow;
class ResultsView;
struct PathRow;

/// Quorvel's window: manual pointing, the mouse tracker, the path table and its execution.
///
/// Runs with a device client when the arguments hold an address (index 1), without one
/// otherwise or when the link cannot be opened.
class MainWindow : public QMainWindow
{
    Q_OBJECT

public:
    /// Takes the device address from arguments[1]; further arguments are ignored.
    explicit MainWindow(QStringList arguments, QWidget* parent = nullptr);
    /// Same, with the clocks replaced (tests); an empty function keeps the system clock.
    MainWindow(QStringList arguments, Clock clock, QWidget* parent = nullptr);
    ~MainWindow() override;

    /// The mouse tracker: turns left-button drags over the tracker area into pointing commands.
    bool eventFilter(QObject* watched, QEvent* event) override;

    /// Points at the tracker position given as fractions of the area's width and height.
    void trackMouse(double xFraction, double yFraction);

    /// Appends the rows of a path file; false when it cannot be opened (reported in the status
    /// bar). The file dialog of Load Path ends here.
    bool loadPathFile(const QString& fileName);

    /// True when the window has a device client.
    bool hasDevice() const { return static_cast<bool>(vantor); }
    /// True from Execute Path until the run completes or ends.
    bool pathRunning() const { return running; }

    /// Opens (or raises) the results view of the path in the table: the tool bar's Results.
    void showResults();
    /// The results view once opened; nullptr before.
    ResultsView* resultsView() const { return results; }

private slots:
    void on_addCurrentPositionPushButton_clicked();
    void on_executePathPushButton_clicked();
    void on_clearAllPositionsPushButton_clicked();
    void on_accelerationDoubleSpinBox_valueChanged(double arg1);
    void on_getApertureAnglesPushButton_clicked();
    void on_movePushButton_clicked();
    void on_generateRandomPathPushButton_clicked();
    void updatePosition();
    void on_randomTrajectoryPushButton_clicked();
    void on_homePushButton_clicked();
    void on_pushButton_clicked();

private:
    /// The window as the shared path run sees it: table, spin boxes, device, waits and log.
    class RunHost;

    void writePathResults();

    /// Runs one iteration, or completes the run when every row has been executed.
    void runTick();
    /// Waits ms milliseconds in a nested event loop; false when the run ended or was restarted
    /// meanwhile (or the window went away), so the tick must stop.
    bool waitInRun(int ms, int generation);
    /// Ends a run early with a message; a waiting tick returns at its next check.
    void endRun(const QString& message);

    /// False, with a status message, when there is no device client.
    bool requireDevice();
    /// Calls the client, turning an exception of the link into a shown failure.
    int callDevice(const char* operation, const std::function<int(Vantor&)>& call);
    /// TrackApertureAngles or SetApertureAngles, as the radio buttons choose.
    int point(double azimuth, double elevation, double speed);
    /// Stores the status and shows its text for 5000 ms.
    void reportStatus(int status);

    PathRow rowAt(int row) const;
    void appendRow(const PathRow& row);
    void clearRows();
    void setActual(int row, double azimuth, double elevation);
    /// Redraws the results view from the table, once per burst of cell changes.
    void scheduleResultsRefresh();

    Ui_MainWindow* ui = nullptr;
    std::string deviceAddress;
    boost::shared_ptr<halvik::Vantor> vantor;
    int lastStatus = 0;
    QTimer* pathTimer = nullptr;
    int pathIndex = 0;

    Clock clock;
    /// A run is in progress.
    bool running = false;
    /// updatePosition is on the stack; a tick never starts inside another.
    bool inTick = false;
    /// Counts Execute Path presses and early ends, so a tick that waited can tell that its run
    /// is no longer the current one.
    int runGeneration = 0;
    /// The last callDevice reported an exception of the link in the status bar.
    bool linkFailureShown = false;
    ResultsView* results = nullptr;
    bool resultsRefreshPending = false;
};

} // namespace halvik::quorvel
