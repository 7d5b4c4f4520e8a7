// The simulation platform: virtual device bus, sinks registered by the simulated host, files on disk.
#include "host/platform.h"
