#include "vantormodel.h"

#include <halvik/vantormanager.h>

#include <exception>
#include <iostream>
#include <iterator>

namespace {

constexpr unsigned int discoveryWindowMs = 1500;
constexpr int messageMs = 5000;
constexpr int timeoutStatus = 254;
constexpr int notSent = -1;

QString latin1(const std::string& bytes)
{
    return QString::fromLatin1(bytes.data(), static_cast<qsizetype>(bytes.size()));
}

std::string bytes(const QString& text)
{
    return text.toLatin1().toStdString();
}

} // namespace

VantorModel::VantorModel(QObject* parent)
    : VantorModel(QStringLiteral("255.255.255.255"), 4365, parent)
{}

VantorModel::VantorModel(const QString& broadcast, quint16 port, QObject* parent)
    : QAbstractTableModel(parent)
    , broadcastAddress(bytes(broadcast))
    , port(port)
{
    ensureManager();
}

VantorModel::~VantorModel() = default;

bool VantorModel::ensureManager()
{
    if (manager) {
        return true;
    }
    try {
        manager = std::make_unique<halvik::VantorManager>(broadcastAddress, port);
        lastLinkError.clear();
        return true;
    } catch (const std::exception& e) {
        // No route to the broadcast address, for instance: the window stays usable and the
        // next refresh tries again.
        lastLinkError = QStringLiteral("cannot broadcast on %1:%2: %3")
                            .arg(latin1(broadcastAddress))
                            .arg(port)
                            .arg(QString::fromLocal8Bit(e.what()));
        std::cerr << "Vantor Manager: " << lastLinkError.toStdString() << std::endl;
        return false;
    }
}

// A cell has no children: counting rows under one would make the table an endless tree for any
// view or tester that walks it.
int VantorModel::rowCount(const QModelIndex& parent) const
{
    return parent.isValid() ? 0 : static_cast<int>(devices.size());
}

int VantorModel::columnCount(const QModelIndex& parent) const
{
    return parent.isValid() ? 0 : 2;
}

QVariant VantorModel::data(const QModelIndex& index, int role) const
{
    if (role != Qt::DisplayRole || index.row() < 0 || index.row() >= rowCount() ||
        index.column() < 0 || index.column() > 1) {
        return QVariant();
    }
    const auto entry = std::next(devices.begin(), index.row());
    return latin1(index.column() == 0 ? entry->first : entry->second);
}

bool VantorModel::setData(const QModelIndex& index, const QVariant& value, int role)
{
    if (role != Qt::EditRole || index.column() != 1) {
        return true;
    }
    const QString serial = data(this->index(index.row(), 0), Qt::DisplayRole).toString();
    const QString newAddress = value.toString();
    if (newAddress.isEmpty()) {
        return true;
    }
    int status = notSent;
    if (ensureManager()) {
        try {
            status = manager->SetVantorIP(bytes(serial), bytes(newAddress));
        } catch (const std::exception& e) {
            std::cerr << "Vantor Manager: IP change failed: " << e.what() << std::endl;
        }
    }
    // No answer within the time-out counts as success: the device may already have moved.
    const QString message = (status == 0 || status == timeoutStatus)
                                ? QStringLiteral("IP updated succesfully")
                                : QStringLiteral("Could not change IP");
    emit showMessage(message, messageMs);
    emit editCompleted(newAddress);
    refresh();
    return true;
}

QVariant VantorModel::headerData(int section, Qt::Orientation orientation, int role) const
{
    if (orientation != Qt::Horizontal || role != Qt::DisplayRole) {
        return QVariant();
    }
    if (section == 0) {
        return QStringLiteral("Serial");
    }
    if (section == 1) {
        return QStringLiteral("IP");
    }
    return QVariant();
}

Qt::ItemFlags VantorModel::flags(const QModelIndex& index) const
{
    // The root (an invalid index) is no item: views and the model tester expect no flags there.
    if (!index.isValid()) {
        return Qt::NoItemFlags;
    }
    const Qt::ItemFlags base = Qt::ItemIsSelectable | Qt::ItemIsEnabled;
    return index.column() == 1 ? base | Qt::ItemIsEditable : base;
}

int VantorModel::refresh()
{
    halvik::VantorMap found;
    if (ensureManager()) {
        try {
            manager->ClearVantors();
            manager->FindVantors(discoveryWindowMs, true, nullptr);
            found = manager->GetVantors();
        } catch (const std::exception& e) {
            lastLinkError =
                QStringLiteral("discovery failed: %1").arg(QString::fromLocal8Bit(e.what()));
            std::cerr << "Vantor Manager: " << lastLinkError.toStdString() << std::endl;
            // A broken link is opened anew on the next refresh.
            manager.reset();
        }
    }
    devices = std::move(found);
    emit layoutChanged();
    return static_cast<int>(devices.size());
}

QString VantorModel::addressOf(const QString& serial) const
{
    const auto it = devices.find(bytes(serial));
    return it == devices.end() ? QString() : latin1(it->second);
}
