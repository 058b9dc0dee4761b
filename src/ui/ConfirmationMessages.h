// The informative texts of the two confirmation dialogs: which files wait (up to 8 listed, then
// "…及其他 N 个文件"), their sizes in the file style, where they come from, and for a same-name file
// which file exists.
#pragma once

#include "receiver/ReceiverTypes.h"

#include <QList>
#include <QString>

namespace ferrylantern {

// The receive dialog's text for `item`, listing `queue` (the model's confirmation queue when built).
QString receiveMessage(const ReceiveConfirmationAlertItem& item, const QList<PendingReceiveConfirmation>& queue);

QString duplicateMessage(const DuplicateResolutionAlertItem& item);

} // namespace ferrylantern
