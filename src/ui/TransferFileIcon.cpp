#include "ui/TransferFileIcon.h"

#include "ui/SymbolIcon.h"
#include "ui/ViewStyle.h"

#include <QMimeDatabase>
#include <QPainter>
#include <QPainterPath>

namespace ferrylantern {

namespace {

constexpr int defaultSide = 20;
constexpr int maximumBadgeCharacters = 4;

} // namespace

std::optional<QString> knownFileType(const QString& fileName)
{
    const QString name = fileName.section(QLatin1Char('/'), -1);
    const qsizetype dot = name.lastIndexOf(QLatin1Char('.'));
    if (dot < 0 || dot == name.size() - 1) {
        return std::nullopt;
    }
    const QMimeType type = QMimeDatabase().mimeTypeForFile(name, QMimeDatabase::MatchExtension);
    if (!type.isValid() || type.isDefault()) {
        return std::nullopt;
    }
    return type.name();
}

TransferFileIcon::TransferFileIcon(const QString& fileName, QWidget* parent)
    : QWidget(parent)
{
    setObjectName(QStringLiteral("fileIcon"));
    setFileName(fileName);
}

void TransferFileIcon::setFileName(const QString& fileName)
{
    fileName_ = fileName;
    fileType_ = knownFileType(fileName);
    typeIcon_ = QIcon();
    if (fileType_) {
        const QMimeType type = QMimeDatabase().mimeTypeForName(*fileType_);
        typeIcon_ = QIcon::fromTheme(type.iconName(), QIcon::fromTheme(type.genericIconName()));
    }
    update();
}

QSize TransferFileIcon::sizeHint() const
{
    return {defaultSide, defaultSide};
}

void TransferFileIcon::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    const int side = std::min(width(), height());
    const QRect frame((width() - side) / 2, (height() - side) / 2, side, side);
    if (!fileType_) {
        paintSymbol(painter, Symbol::doc, frame, secondaryColor(palette()));
        return;
    }
    if (!typeIcon_.isNull()) {
        typeIcon_.paint(&painter, frame);
        return;
    }
    // The desktop has no icon for a known type: a page with a label of the extension, so known types
    // still look apart from unknown ones.
    paintSymbol(painter, Symbol::doc, frame, secondaryColor(palette()));
    const QString extension = fileName_.section(QLatin1Char('.'), -1).left(maximumBadgeCharacters).toUpper();
    const QRectF label(frame.left() + side * 0.12, frame.top() + side * 0.5, side * 0.76, side * 0.34);
    QPainterPath badge;
    badge.addRoundedRect(label, side * 0.06, side * 0.06);
    painter.fillPath(badge, accentColor(palette()));
    QFont badgeFont = font();
    badgeFont.setBold(true);
    badgeFont.setPixelSize(std::max(5, static_cast<int>(label.height() * 0.8)));
    badgeFont.setStretch(extension.size() > 3 ? QFont::Condensed : QFont::Unstretched);
    painter.setFont(badgeFont);
    painter.setPen(Qt::white);
    painter.drawText(label, Qt::AlignCenter, extension);
}

} // namespace ferrylantern
