// The values the receiver model keeps and shows: uploads and downloads in flight, queued questions and
// what the dialogs present, and the model's own failure.
#pragma once

#include "server/ServerCallbacks.h"

#include <QMetaType>
#include <QString>

#include <cstdint>

namespace ferrylantern {

// One upload in flight, identified by the server's upload id. A resumed or sliced upload stays one
// upload in flight, its bytes counted from where it stopped.
struct TransferReceiveProgress
{
    Uuid id;
    QString fileName;
    QString deviceFolder;
    std::int64_t bytesReceived = 0;
    std::int64_t totalBytes = 0;
    // No byte has arrived for a while (the phone locked, its Wi-Fi dropped): the upload waits for the
    // phone to continue it.
    bool isStalled = false;

    bool operator==(const TransferReceiveProgress&) const = default;
};

// One download of a shared file in flight, identified by the server's download id.
struct TransferSendProgress
{
    Uuid id;
    Uuid shareID;
    QString fileName;
    QString deviceFolder; // who downloads
    std::int64_t bytesSent = 0;
    std::int64_t totalBytes = 0;

    bool operator==(const TransferSendProgress&) const = default;
};

// One queued receive confirmation.
struct PendingReceiveConfirmation
{
    Uuid id;
    QString fileName; // for a text: the start of its first line
    QString deviceFolder;
    std::int64_t byteCount = 0;
    ReceiveKind kind = ReceiveKind::file;

    bool operator==(const PendingReceiveConfirmation&) const = default;
};

// What the receive dialog presents: the head of the queue and the queue's length.
struct ReceiveConfirmationAlertItem
{
    PendingReceiveConfirmation pending;
    qsizetype queueCount = 0;

    QString identity() const { return QString::fromStdString(pending.id.text()); }
    bool operator==(const ReceiveConfirmationAlertItem&) const = default;
};

// One queued same-name question.
struct PendingDuplicateResolution
{
    Uuid id;
    QString fileName;
    QString deviceFolder;
    QString existingFilePath;

    bool operator==(const PendingDuplicateResolution&) const = default;
};

struct DuplicateResolutionAlertItem
{
    PendingDuplicateResolution pending;
    qsizetype queueCount = 0;

    QString identity() const { return QString::fromStdString(pending.id.text()); }
    bool operator==(const DuplicateResolutionAlertItem&) const = default;
};

enum class TransferReceiverError
{
    noPortAssigned,
};

QString description(TransferReceiverError error);

} // namespace ferrylantern

Q_DECLARE_METATYPE(ferrylantern::ReceivedFileRecord)
Q_DECLARE_METATYPE(ferrylantern::TransferReceiveProgress)
Q_DECLARE_METATYPE(ferrylantern::TransferSendProgress)
Q_DECLARE_METATYPE(ferrylantern::PendingReceiveConfirmation)
Q_DECLARE_METATYPE(ferrylantern::PendingDuplicateResolution)
