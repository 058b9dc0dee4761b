// What the desktop shares with phones, as a list model in the order shared: sharing adds a row at the
// end, ending a share removes its row, and a shared file found gone (or back) changes its row's
// missing flag (dataChanged of that one row).
//
// GUI thread only. Written by the receiver model alone, which keeps it in step with the server's
// SharedItems registry; views and tests read it.
#pragma once

#include "server/SharedItems.h"

#include <QAbstractListModel>
#include <QList>
#include <QMetaType>

#include <optional>

namespace ferrylantern {

class SharedItemListModel final : public QAbstractListModel
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(SharedItemListModel)

public:
    // data() gives the file name (or the text) for Qt::DisplayRole and the whole SharedItem for this role.
    static constexpr int itemRole = Qt::UserRole + 1;
    // Whether a shared file has gone from its place (bool).
    static constexpr int missingRole = Qt::UserRole + 2;

    explicit SharedItemListModel(QObject* parent = nullptr);

    int rowCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
    QHash<int, QByteArray> roleNames() const override;

    const QList<SharedItem>& items() const { return items_; }
    std::optional<int> rowOf(const Uuid& id) const;

    void append(const SharedItem& item);
    bool remove(const Uuid& id);
    void clear();
    // Changes the missing flag of share `id`; nothing for an unknown id or an unchanged flag.
    void setMissing(const Uuid& id, bool missing);

private:
    QList<SharedItem> items_;
};

// Why a file or a text could not be shared, for the window.
QString description(ShareFailure failure);

} // namespace ferrylantern

Q_DECLARE_METATYPE(ferrylantern::SharedItem)
