// Automation data of the Windows build: the system's automation header.
#pragma once

#include <oleauto.h>
