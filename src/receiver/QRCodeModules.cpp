#include "receiver/QRCodeModules.h"

#include <qrencode.h>

#include <memory>

namespace ferrylantern {

namespace {

struct QRcodeDeleter
{
    void operator()(QRcode* code) const { QRcode_free(code); }
};

} // namespace

std::optional<QRCodeModules> QRCodeModules::encode(const QString& text)
{
    const QByteArray bytes = text.toUtf8();
    if (bytes.contains('\0')) {
        return std::nullopt;
    }
    // Version 0 asks for the smallest version that holds the data; 8-bit mode keeps the bytes as they
    // are while letting the encoder use denser modes for runs of digits.
    const std::unique_ptr<QRcode, QRcodeDeleter> code(
        QRcode_encodeString(bytes.constData(), 0, QR_ECLEVEL_M, QR_MODE_8, 1));
    if (!code) {
        return std::nullopt;
    }
    std::vector<bool> dark(static_cast<std::size_t>(code->width) * static_cast<std::size_t>(code->width));
    for (std::size_t index = 0; index < dark.size(); ++index) {
        dark[index] = (code->data[index] & 1) != 0;
    }
    return QRCodeModules(code->width, std::move(dark));
}

bool QRCodeModules::isDark(int x, int y) const
{
    if (x < 0 || y < 0 || x >= width_ || y >= width_) {
        return false;
    }
    return dark_[static_cast<std::size_t>(y) * static_cast<std::size_t>(width_) + static_cast<std::size_t>(x)];
}

} // namespace ferrylantern
