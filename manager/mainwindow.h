#pragma once

#include "managersettings.h"

#include <QMainWindow>
#include <QModelIndex>

class Ui_MainWindow;
class VantorModel;

/// Vantor Manager's window: the device table, Refresh, and the application launcher.
class MainWindow : public QMainWindow
{
    Q_OBJECT

public:
    explicit MainWindow(QWidget* parent = nullptr);
    explicit MainWindow(const ManagerSettings& settings, QWidget* parent = nullptr);
    ~MainWindow() override;

    /// Refreshes the model, shows the count in the status bar and returns it.
    int searchVantors();

    /// The form, for tests.
    Ui_MainWindow* form() const { return ui; }
    VantorModel* deviceModel() const { return model; }
    /// Process id of the last program that Launch started; 0 when none started.
    qint64 lastLaunchedPid() const { return launchedPid; }
    /// Program path of the last Launch, started or not.
    QString lastLaunchProgram() const { return launchProgram; }

private slots:
    void on_searchVantorsPushButton_clicked();
    void on_LaunchPushButton_clicked();
    void on_vantorsTableView_clicked(QModelIndex index);

private:
    void fillApplicationList();
    QString applicationDirectory() const;

    Ui_MainWindow* ui;
    VantorModel* model;
    ManagerSettings settings;
    qint64 launchedPid = 0;
    QString launchProgram;
};
