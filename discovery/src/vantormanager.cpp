#include "vantormanagerprivate.h"

#include <halvik/vantormanager.h>

#include <utility>

namespace halvik {

VantorManager::VantorManager()
    : d(std::make_unique<VantorManagerPrivate>())
{}

VantorManager::VantorManager(const std::string& broadcastAddress, unsigned short port)
    : d(std::make_unique<VantorManagerPrivate>(broadcastAddress, port))
{}

VantorManager::~VantorManager() = default;

int VantorManager::FindVantors(unsigned int timeoutMs, bool blocking, DiscoveryListener* listener)
{
    return d->FindVantors(timeoutMs, blocking, listener);
}

void VantorManager::ClearVantors()
{
    d->ClearVantors();
}

VantorMap VantorManager::GetVantors()
{
    return d->GetVantors();
}

int VantorManager::SetVantorIP(std::string serial, std::string newAddress)
{
    return d->SetVantorIP(std::move(serial), std::move(newAddress));
}

} // namespace halvik
