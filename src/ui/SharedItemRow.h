// One thing the desktop shares with phones, in the sidebar's list: the file's icon and name, or the
// start of a text, its size, "文件已不存在" while a shared file has gone, and a button that ends the
// share.
//
// GUI thread only (a widget).
#pragma once

#include "server/SharedItems.h"

#include <QWidget>

class QLabel;

namespace ferrylantern {

class SharedItemRow final : public QWidget
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(SharedItemRow)

public:
    static constexpr int iconSide = 20;

    explicit SharedItemRow(const SharedItem& item, QWidget* parent = nullptr);

    const SharedItem& item() const { return item_; }
    bool isMissing() const { return item_.missing; }
    void setMissing(bool missing);

signals:
    // End this share.
    void removeRequested(const ferrylantern::Uuid& id);

private:
    SharedItem item_;
    QLabel* missingNote_;
};

} // namespace ferrylantern
