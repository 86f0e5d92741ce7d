#pragma once

#include <halvik/vantormap.h>

#include <QAbstractTableModel>
#include <QString>

#include <memory>

namespace halvik {
class VantorManager;
}

/// The device table: one row per discovered Vantor (serial, IP), in the serials' byte order.
/// Editing an IP cell asks that device to change its address, then discovers again.
class VantorModel : public QAbstractTableModel
{
    Q_OBJECT

public:
    /// Discovers on 255.255.255.255:4365.
    explicit VantorModel(QObject* parent);
    /// Discovers on another broadcast address and port.
    VantorModel(const QString& broadcastAddress, quint16 port, QObject* parent);
    ~VantorModel() override;

    int rowCount(const QModelIndex& parent = QModelIndex()) const override;
    int columnCount(const QModelIndex& parent = QModelIndex()) const override;
    QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
    bool setData(const QModelIndex& index, const QVariant& value, int role = Qt::EditRole) override;
    QVariant headerData(int section, Qt::Orientation orientation,
                        int role = Qt::DisplayRole) const override;
    Qt::ItemFlags flags(const QModelIndex& index) const override;

    /// Runs a blocking 1500 ms discovery, replaces the snapshot, returns the device count.
    int refresh();
    /// Address of a serial in the snapshot; empty text when the serial is not there.
    QString addressOf(const QString& serial) const;
    /// Why the last discovery could not run (the broadcast link failed); empty when it ran.
    QString linkError() const { return lastLinkError; }

signals:
    void editCompleted(QString);
    void showMessage(QString message, int delay);

private:
    bool ensureManager();

    halvik::VantorMap devices;
    std::unique_ptr<halvik::VantorManager> manager;
    std::string broadcastAddress;
    quint16 port;
    QString lastLinkError;
};
