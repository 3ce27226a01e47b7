// About window view.
#include "gui/tfrmaboutview.h"

#include "daemon/tfrmabout.h"
#include "gui/dialogs.h"
#include "gui/jpegimage.h"
#include "gui/resources.h"

#include <QCloseEvent>
#include <QDesktopServices>
#include <QGuiApplication>
#include <QImage>
#include <QLabel>
#include <QPixmap>
#include <QPushButton>
#include <QScreen>
#include <QStyle>
#include <QUrl>

namespace {

// A label that runs a command when clicked.
class TClickLabel : public QLabel {
public:
    using QLabel::QLabel;
    std::function<void()> OnClick;

protected:
    void mouseReleaseEvent(QMouseEvent*) override {
        if (OnClick) RunCommand(OnClick);
    }
};

} // namespace

QImage JpegToImage(const QByteArray& jpeg) {
    TJpegImage decoded;
    std::string error;
    if (!DecodeJpeg(reinterpret_cast<const std::uint8_t*>(jpeg.constData()), static_cast<std::size_t>(jpeg.size()),
                    decoded, error))
        return {};
    QImage image(decoded.Width, decoded.Height, QImage::Format_RGB888);
    for (int y = 0; y < decoded.Height; ++y)
        std::copy_n(decoded.Rgb.data() + static_cast<std::size_t>(y) * decoded.Width * 3, decoded.Width * 3,
                    image.scanLine(y));
    return image;
}

TfrmAboutView::TfrmAboutView(TfrmAbout& about, QWidget* parent) : QDialog(parent), m_about(about) {
    setObjectName(QStringLiteral("frmAbout"));
    setWindowTitle(QString::fromStdString(about.Caption));
    setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::MSWindowsFixedSizeDialogHint);
    setFixedSize(WindowWidth, WindowHeight);
    auto* image = new QLabel(this);
    image->setObjectName(QStringLiteral("Image1"));
    image->setGeometry(8, 8, 69, 69);
    const QImage picture = JpegToImage(ResourceData(TfrmAbout::ImageResource));
    m_hasPicture = !picture.isNull();
    if (m_hasPicture) image->setPixmap(QPixmap::fromImage(picture));
    auto* version = new QLabel(QString::fromStdString(about.L_Version), this);
    version->setObjectName(QStringLiteral("L_Version"));
    QFont bold = version->font();
    bold.setBold(true);
    version->setFont(bold);
    version->setGeometry(88, 14, 270, 20);
    auto* url = new TClickLabel(QString::fromStdString(about.lblURL), this);
    url->setObjectName(QStringLiteral("lblURL"));
    url->setStyleSheet(QStringLiteral("color: blue; text-decoration: underline;"));
    url->setCursor(Qt::PointingHandCursor);
    url->setGeometry(88, 40, 270, 20);
    url->OnClick = [this] { m_about.lblURLClick(); };
    auto* ok = new QPushButton(style()->standardIcon(QStyle::SP_DialogOkButton), QStringLiteral("OK"), this);
    ok->setObjectName(QStringLiteral("BitBtn1"));
    ok->setDefault(true);
    ok->setGeometry(WindowWidth - 88, WindowHeight - 32, 80, 24);
    connect(ok, &QPushButton::clicked, this, [this] { RunCommand([this] { m_about.BitBtn1Click(); }); });
    m_about.OnOpenURL = [this](const std::string& address) {
        if (!QDesktopServices::openUrl(QUrl(QString::fromStdString(address))))
            Dialogs().Error(this,
                            QStringLiteral("No program is set up to open %1").arg(QString::fromStdString(address)));
    };
    m_about.OnChange = [this] { Sync(); };
    if (QScreen* screen = QGuiApplication::primaryScreen())
        move(screen->availableGeometry().center() - QPoint(WindowWidth / 2, WindowHeight / 2));
}

TfrmAboutView::~TfrmAboutView() {
    m_about.OnChange = nullptr;
    m_about.OnOpenURL = nullptr;
}

void TfrmAboutView::Sync() {
    if (m_about.Visible) {
        show();
        raise();
        activateWindow();
    } else {
        hide();
    }
}

void TfrmAboutView::closeEvent(QCloseEvent* event) {
    event->ignore();
    RunCommand([this] { m_about.BitBtn1Click(); });
}

void TfrmAboutView::reject() {
    RunCommand([this] { m_about.BitBtn1Click(); }); // Escape hides it as OK does
}
