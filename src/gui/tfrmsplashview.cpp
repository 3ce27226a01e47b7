// Splash screen view.
#include "gui/tfrmsplashview.h"

#include "daemon/tfrmsplash.h"
#include "gui/resources.h"

#include <QGuiApplication>
#include <QLabel>
#include <QPixmap>
#include <QScreen>

TfrmSplashView::TfrmSplashView() : QWidget(nullptr, Qt::SplashScreen | Qt::FramelessWindowHint) {
    setObjectName(QStringLiteral("frmSplash"));
    setFixedSize(TfrmSplash::ClientWidth, TfrmSplash::ClientHeight);
    auto* image = new QLabel(this);
    image->setObjectName(QStringLiteral("imgsplash"));
    QPixmap picture;
    picture.loadFromData(ResourceData(TfrmSplash::ImageResource));
    image->setPixmap(picture);
    image->setAlignment(Qt::AlignCenter);
    image->setGeometry(0, 0, TfrmSplash::ClientWidth, TfrmSplash::ClientHeight);
    auto* label = new QLabel(QString::fromLatin1(TfrmSplash::lblStart), this);
    label->setObjectName(QStringLiteral("lblStart"));
    QFont font(QStringLiteral("Stencil"));
    font.setPixelSize(TfrmSplash::lblFontPixels);
    label->setFont(font);
    label->setStyleSheet(QStringLiteral("color: white; background: transparent;"));
    label->setAttribute(Qt::WA_TranslucentBackground);
    label->setGeometry(TfrmSplash::lblLeft, TfrmSplash::lblTop, TfrmSplash::lblWidth, TfrmSplash::lblHeight);
    if (QScreen* screen = QGuiApplication::primaryScreen())
        move(screen->geometry().center() - QPoint(width() / 2, height() / 2));
}
