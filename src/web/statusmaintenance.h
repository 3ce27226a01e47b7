// The status page's maintenance part: the windows running or still to come, each with a button that
// ends it now, and the form that makes one (POST /status/maintenance).
#pragma once

#include "web/statusview.h"

#include <string>

/// Appends the part to the page; nothing without a maintenance book behind the view.
void AddMaintenanceSection(std::string& page, const TStatusView& view);
