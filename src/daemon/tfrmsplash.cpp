// The splash screen has no behaviour of its own beyond its form (see tfrmsplash.h).
#include "daemon/tfrmsplash.h"
