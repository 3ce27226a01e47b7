// The console's timer is the one timer class of the message loop.
#pragma once

#include "platform/ttimer.h"
