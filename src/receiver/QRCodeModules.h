// The modules of a QR code (ISO/IEC 18004) for the access URL, shared by the window's code and the
// terminal's: level M, the smallest version that holds the text, its UTF-8 bytes in 8-bit mode.
//
//   auto code = QRCodeModules::encode(QStringLiteral("http://192.168.1.20:53317/"));
//   code->isDark(x, y);                     // 0 <= x, y < code->width()
//
// Thread-compatible value.
#pragma once

#include <QString>

#include <optional>
#include <vector>

namespace ferrylantern {

class QRCodeModules
{
public:
    // Nothing when the text cannot be encoded (too long, or it holds a NUL).
    static std::optional<QRCodeModules> encode(const QString& text);

    int width() const { return width_; }
    // Outside the code (the quiet zone around it) every module is light.
    bool isDark(int x, int y) const;

private:
    QRCodeModules(int width, std::vector<bool> dark)
        : width_(width)
        , dark_(std::move(dark))
    {}

    int width_;
    std::vector<bool> dark_; // row by row
};

} // namespace ferrylantern
