// The About window over TfrmAbout: product picture, version label, web address and OK.
#pragma once

#include <QDialog>

class QLabel;
class TfrmAbout;

class TfrmAboutView : public QDialog {
public:
    TfrmAboutView(TfrmAbout& about, QWidget* parent);
    ~TfrmAboutView() override;
    /// Whether the product picture could be decoded.
    bool HasPicture() const { return m_hasPicture; }
    static constexpr int WindowWidth = 366, WindowHeight = 112;

protected:
    void closeEvent(QCloseEvent* event) override;
    void reject() override;

private:
    void Sync();
    TfrmAbout& m_about;
    bool m_hasPicture = false;
};

/// The picture from JPEG bytes through libjpeg; a null image when they do not decode.
class QImage;
QImage JpegToImage(const QByteArray& jpeg);
