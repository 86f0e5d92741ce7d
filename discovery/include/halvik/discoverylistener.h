#pragma once

#include <halvik/vantormap.h>

namespace halvik {

/// Receives copies of the device map during a discovery, on the link's receive thread, with the
/// client's state lock held: it must not call back into the client.
class DiscoveryListener
{
public:
    virtual ~DiscoveryListener() = default;
    /// A copy of the devices heard so far.
    virtual void vantorsFound(VantorMap devices) = 0;
};

} // namespace halvik
