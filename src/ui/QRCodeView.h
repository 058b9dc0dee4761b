// The QR code of the upload address, which a phone camera scans to open the page.
#pragma once

#include <QImage>
#include <QString>
#include <QWidget>

#include <optional>

namespace ferrylantern {

// Encodes the UTF-8 bytes of `content` as a QR code (ISO/IEC 18004) at error correction level M in the
// smallest version that holds it, and renders it `side` by `side` pixels without smoothing, every
// module a sharp block. Two modules of white quiet zone are part of the image. Nothing when the text
// cannot be encoded.
std::optional<QImage> makeQRImage(const QString& content, int side);

// The code at 220 points with a 12-point white margin on a white rounded panel, in every appearance;
// "无法生成二维码" when the text cannot be encoded.
class QRCodeView : public QWidget
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(QRCodeView)

public:
    static constexpr int side = 220;
    static constexpr int margin = 12;

    explicit QRCodeView(QWidget* parent = nullptr);

    void setContent(const QString& content);
    QString content() const { return content_; }
    bool hasImage() const { return image_.has_value(); }

    QSize sizeHint() const override;

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    QString content_;
    std::optional<QImage> image_;
};

} // namespace ferrylantern
