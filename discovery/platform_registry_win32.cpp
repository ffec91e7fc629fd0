#include "registry.h"

std::unique_ptr<RegistrySource> PlatformRegistry() { return WindowsRegistry(); }
