#include <halvik/resources.h>

#include <QtCore/QtGlobal>

// Q_INIT_RESOURCE must be used outside any namespace.
static void initHalvikResources()
{
    Q_INIT_RESOURCE(halvik);
}

namespace halvik {

void initResources()
{
    // Referencing the bundle from here also keeps the linker from dropping it out of the static
    // library; Qt ignores a second registration of the same data.
    static const bool registered = (initHalvikResources(), true);
    (void)registered;
}

} // namespace halvik
