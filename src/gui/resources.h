// The pictures and pages compiled into the program: icons by resource name, raw data by name.
#pragma once

#include <QByteArray>
#include <QIcon>

#include <string>

/// "MAINICON", "ICON_NET_ON", "ICON_NET_OFF" with their 16 and 32 pixel images.
QIcon ResourceIcon(const std::string& name);
/// "SPLASH" (PNG), "ABOUT_JPEG" (JPEG), "HELP" (HTML); empty for an unknown name.
QByteArray ResourceData(const std::string& name);
