#include "ui/ActiveReceiveSection.h"

#include "receiver/ActiveReceiveListModel.h"
#include "ui/ActiveReceiveRow.h"
#include "ui/ViewStyle.h"

#include <QLabel>
#include <QVBoxLayout>

namespace ferrylantern {

ActiveReceiveSection::ActiveReceiveSection(const ActiveReceiveListModel& receives, QWidget* parent)
    : QWidget(parent)
    , receives_(receives)
{
    setObjectName(QStringLiteral("activeReceives"));
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    header_ = new QLabel(QStringLiteral("正在接收"), this);
    header_->setObjectName(QStringLiteral("activeSectionHeader"));
    useFont(header_, subheadlineFont);
    layout->addWidget(header_);
    rowLayout_ = new QVBoxLayout;
    rowLayout_->setContentsMargins(0, 0, 0, 0);
    layout->addLayout(rowLayout_);

    connect(&receives_, &QAbstractItemModel::rowsInserted, this,
            [this](const QModelIndex&, int first, int last) { insertRows(first, last); });
    connect(&receives_, &QAbstractItemModel::rowsRemoved, this,
            [this](const QModelIndex&, int first, int last) { removeRows(first, last); });
    connect(&receives_, &QAbstractItemModel::dataChanged, this,
            [this](const QModelIndex& topLeft, const QModelIndex& bottomRight) {
                changeRows(topLeft.row(), bottomRight.row());
            });
    connect(&receives_, &QAbstractItemModel::modelReset, this, &ActiveReceiveSection::rebuild);
    rebuild();
}

void ActiveReceiveSection::setShowsHeader(bool shows)
{
    showsHeader_ = shows;
    showHeader();
}

void ActiveReceiveSection::setRowSpacing(int spacing)
{
    layout()->setSpacing(spacing);
    rowLayout_->setSpacing(spacing);
}

void ActiveReceiveSection::insertRows(int first, int last)
{
    for (int row = first; row <= last; ++row) {
        auto* widget = new ActiveReceiveRow(receives_.receives().at(row), this);
        connect(widget, &ActiveReceiveRow::cancelRequested, this, &ActiveReceiveSection::cancelRequested);
        rowLayout_->insertWidget(row, widget);
        rows_.insert(row, widget);
    }
    showHeader();
}

void ActiveReceiveSection::removeRows(int first, int last)
{
    for (int row = last; row >= first; --row) {
        delete rows_.takeAt(row);
    }
    showHeader();
}

void ActiveReceiveSection::changeRows(int first, int last)
{
    for (int row = first; row <= last; ++row) {
        rows_.at(row)->setProgress(receives_.receives().at(row));
    }
}

void ActiveReceiveSection::rebuild()
{
    qDeleteAll(rows_);
    rows_.clear();
    if (!receives_.receives().isEmpty()) {
        insertRows(0, static_cast<int>(receives_.receives().size()) - 1);
    }
    showHeader();
}

void ActiveReceiveSection::showHeader()
{
    header_->setVisible(showsHeader_ && !rows_.isEmpty());
    setVisible(!rows_.isEmpty());
}

} // namespace ferrylantern
