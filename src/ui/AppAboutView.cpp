#include "ui/AppAboutView.h"

#include "ui/AppVersion.h"
#include "ui/ViewStyle.h"

#include <QGraphicsDropShadowEffect>
#include <QIcon>
#include <QLabel>
#include <QVBoxLayout>

namespace ferrylantern {

namespace {

constexpr int viewWidth = 340;
constexpr int padding = 32;
constexpr int groupSpacing = 20;
constexpr int textSpacing = 6;

QLabel* logoLabel(int logoSize, QWidget* parent)
{
    auto* logo = new QLabel(parent);
    logo->setObjectName(QStringLiteral("aboutLogo"));
    const qreal scale = parent->devicePixelRatioF();
    QPixmap pixmap = QIcon(QStringLiteral(":/ferrylantern/logo.png")).pixmap(QSize(logoSize, logoSize), scale);
    logo->setPixmap(pixmap);
    logo->setFixedSize(logoSize, logoSize);
    logo->setScaledContents(true);
    auto* shadow = new QGraphicsDropShadowEffect(logo);
    shadow->setColor(QColor(0, 0, 0, 31)); // black at 12 %
    shadow->setBlurRadius(16);             // a radius of 8 as the blur's reach
    shadow->setOffset(0, 4);
    logo->setGraphicsEffect(shadow);
    return logo;
}

} // namespace

AppAboutView::AppAboutView(int logoSize, QWidget* parent)
    : QWidget(parent)
{
    setObjectName(QStringLiteral("aboutView"));
    setFixedWidth(viewWidth);
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(padding, padding, padding, padding);
    layout->setSpacing(groupSpacing);
    layout->addWidget(logoLabel(logoSize, this), 0, Qt::AlignHCenter);

    auto* texts = new QVBoxLayout;
    texts->setSpacing(textSpacing);
    auto* name = new QLabel(applicationDisplayName(), this);
    name->setObjectName(QStringLiteral("aboutName"));
    QFont nameFont = name->font();
    nameFont.setPointSizeF(nameFont.pointSizeF() * 1.55);
    nameFont.setWeight(QFont::DemiBold);
    name->setFont(nameFont);
    auto* version = new QLabel(QStringLiteral("版本 ") + applicationVersionText(), this);
    version->setObjectName(QStringLiteral("aboutVersion"));
    useFont(version, subheadlineFont);
    version->setForegroundRole(QPalette::PlaceholderText);
    texts->addWidget(name, 0, Qt::AlignHCenter);
    texts->addWidget(version, 0, Qt::AlignHCenter);
    layout->addLayout(texts);
}

} // namespace ferrylantern
