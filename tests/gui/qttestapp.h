// The widget tests run inside one QApplication on Qt's offscreen platform (see gui_main.cpp).
#pragma once

#include <QApplication>

inline QApplication& TestApplication() {
    return *static_cast<QApplication*>(QCoreApplication::instance());
}
