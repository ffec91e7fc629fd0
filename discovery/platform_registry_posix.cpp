// Without Windows or Linux sysfs there is nothing to read the serial ports
// from: the scan sees a machine without the serial port map.
#include "keytree.h"
#include "registry.h"

std::unique_ptr<RegistrySource> PlatformRegistry() { return KeyTreeSource(std::make_shared<KeyTree>()); }
