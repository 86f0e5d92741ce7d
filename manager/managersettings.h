#pragma once

#include <QString>

/// Where the manager discovers devices and where it finds the programs it launches.
struct ManagerSettings
{
    /// Broadcast address of the discovery; 255.255.255.255 on a lab network.
    QString broadcastAddress = QStringLiteral("255.255.255.255");
    /// UDP port of the devices.
    quint16 port = 4365;
    /// Directory listed by the launcher; empty: the manager's own directory.
    QString applicationDirectory;
    /// File name left out of the launcher list; empty: the running executable's.
    QString ownExecutableName;
};
