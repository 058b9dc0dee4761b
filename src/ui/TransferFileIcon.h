// The icon of a received file, from its name: the desktop's icon for the file's type when the type is
// known by its extension, else the "doc" symbol in the secondary colour.
//
// GUI thread only (a widget). The icon is scaled to whatever frame the widget is given.
#pragma once

#include <QIcon>
#include <QString>
#include <QWidget>

#include <optional>

namespace ferrylantern {

// The MIME type name of a file name's extension, or nothing when the name has no extension or the
// extension is not known (a file of unknown type is plain data and shows the "doc" symbol).
std::optional<QString> knownFileType(const QString& fileName);

class TransferFileIcon final : public QWidget
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(TransferFileIcon)

public:
    explicit TransferFileIcon(const QString& fileName = {}, QWidget* parent = nullptr);

    void setFileName(const QString& fileName);
    const QString& fileName() const { return fileName_; }
    // The type the icon stands for; nothing when the "doc" symbol shows.
    const std::optional<QString>& fileType() const { return fileType_; }

    QSize sizeHint() const override;

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    QString fileName_;
    std::optional<QString> fileType_;
    QIcon typeIcon_; // the theme's icon for fileType_; null when the theme has none
};

} // namespace ferrylantern
