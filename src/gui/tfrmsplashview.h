// The splash screen: a borderless, centred picture with the "starting" label.
#pragma once

#include <QWidget>

class TfrmSplashView : public QWidget {
public:
    TfrmSplashView();
};
