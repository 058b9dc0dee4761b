#include "app/ServerConsole.h"

#include <unistd.h>

namespace ferrylantern {

namespace {

// Text a sender chose, made safe for a terminal: a control character could move the cursor, rewrite
// the prompt or change its colours, a bidirectional or invisible formatting character could reorder or
// hide what is shown. Each one is printed as its escape ("\x1B", "\u202E") instead.
QString visible(const QString& text)
{
    QString shown;
    shown.reserve(text.size());
    for (const char32_t scalar : text.toUcs4()) {
        const auto category = QChar::category(scalar);
        if (category == QChar::Other_Control) {
            // Only the digits upper-case: "\x1B", never "\X1B".
            shown += QStringLiteral("\\x") +
                     QStringLiteral("%1").arg(static_cast<uint>(scalar), 2, 16, QLatin1Char('0')).toUpper();
        } else if (category == QChar::Other_Format || category == QChar::Separator_Line ||
                   category == QChar::Separator_Paragraph) {
            shown += QStringLiteral("\\u") +
                     QStringLiteral("%1").arg(static_cast<uint>(scalar), 4, 16, QLatin1Char('0')).toUpper();
        } else {
            shown += QString::fromUcs4(&scalar, 1);
        }
    }
    return shown;
}

QString describe(const PendingReceiveConfirmation& pending)
{
    if (pending.kind == ReceiveKind::text) {
        return QStringLiteral("text \"%1\" (%2 bytes)").arg(visible(pending.fileName)).arg(pending.byteCount);
    }
    return QStringLiteral("%1 (%2 bytes)").arg(visible(pending.fileName)).arg(pending.byteCount);
}

} // namespace

ServerConsole::ServerConsole(TransferReceiverModel& model, const ServerCommandLine& commandLine, int answersFD,
                             std::FILE* output, std::FILE* prompts, QObject* parent)
    : QObject(parent)
    , model_(model)
    , confirm_(commandLine.confirm)
    , onDuplicate_(commandLine.onDuplicate)
    , answersFD_(answersFD)
    , output_(output)
    , prompts_(prompts)
    , answersReady_(answersFD, QSocketNotifier::Read)
{
    // Besides answers, a line "cancel" cancels the uploads in flight, as the window's cancel buttons
    // do. A terminal is not read by a server started in the background ("&"), though, unless it asks
    // questions there: reading it would stop the process (SIGTTIN).
    const bool asks = confirm_ == ConsoleAnswer::ask || onDuplicate_ == ConsoleAnswer::ask;
    const bool ownsTerminal = isatty(answersFD) == 0 || tcgetpgrp(answersFD) == getpgrp();
    answersReady_.setEnabled(asks || ownsTerminal);
    connect(&answersReady_, &QSocketNotifier::activated, this, &ServerConsole::readAnswers);
    // Queued: answering changes the queue, which must not call back into the answer in progress.
    connect(&model_.confirmations(), &ReceiveConfirmationQueue::confirmationQueueChanged, this,
            &ServerConsole::answerQuestions, Qt::QueuedConnection);
    connect(&model_.duplicates(), &DuplicateResolutionQueue::duplicateQueueChanged, this,
            &ServerConsole::answerQuestions, Qt::QueuedConnection);
    connect(&model_, &TransferReceiverModel::fileReceived, this, [this](const ReceivedFileRecord& record) {
        printLine(QStringLiteral("saved %1 (%2 bytes)")
                      .arg(visible(QString::fromStdString(record.fileURL.string())))
                      .arg(record.byteCount));
    });
    // A text on one line, whatever it holds: its line breaks too are shown as their escapes.
    connect(&model_, &TransferReceiverModel::textReceived, this, [this](const ReceivedFileRecord& record) {
        printLine(QStringLiteral("text from %1: %2")
                      .arg(visible(QString::fromStdString(record.deviceFolder)),
                           visible(QString::fromStdString(record.text.value_or(std::string())))));
    });
    connect(
        &model_, &TransferReceiverModel::downloadEnded, this,
        [this](const TransferSendProgress& progress, bool completed) {
            const auto share = model_.sharedItems()->find(progress.shareID);
            const QString path =
                share ? QString::fromStdString(share->path.string()) : progress.fileName; // removed meanwhile
            printLine(
                completed
                    ? QStringLiteral("sent %1 to %2 (%3 bytes)")
                          .arg(visible(path), visible(progress.deviceFolder))
                          .arg(progress.bytesSent)
                    : QStringLiteral("stopped sending %1 to %2").arg(visible(path), visible(progress.deviceFolder)));
        });
    connect(&model_, &TransferReceiverModel::uploadFailed, this,
            [this](const Uuid&, const std::optional<TransferReceiveProgress>& progress) {
                printLine(progress ? QStringLiteral("failed %1 from %2")
                                         .arg(visible(progress->fileName), visible(progress->deviceFolder))
                                   : QStringLiteral("failed upload (refused before it started)"));
            });
    connect(&model_, &TransferReceiverModel::isPINBeingGuessedChanged, this, [this] {
        if (model_.isPINBeingGuessed()) {
            printLine(QStringLiteral("someone is guessing the PIN: every PIN verification is held back for now"));
        }
    });
}

std::optional<QString> ServerConsole::currentHeadID() const
{
    if (prompt_ == Prompt::confirmation) {
        const auto item = model_.confirmations().currentReceiveConfirmationItem();
        return item ? std::optional(item->identity()) : std::nullopt;
    }
    const auto item = model_.duplicates().currentDuplicateResolutionItem();
    return item ? std::optional(item->identity()) : std::nullopt;
}

void ServerConsole::answerQuestions()
{
    if (prompt_ != Prompt::none) {
        if (currentHeadID() == promptedID_) {
            return; // one question on the terminal at a time
        }
        // The question on the terminal is gone (its sender hung up): an answer typed now must not go
        // to the next question, which nobody has read yet.
        std::fprintf(prompts_, "\n(withdrawn: the sender has gone)\n");
        std::fflush(prompts_);
        prompt_ = Prompt::none;
    }
    if (const auto item = model_.confirmations().currentReceiveConfirmationItem()) {
        if (confirm_ == ConsoleAnswer::ask) {
            askConfirmation(*item);
        } else {
            model_.confirmations().respondToCurrentConfirmation(confirm_ != ConsoleAnswer::reject);
        }
        return;
    }
    if (const auto item = model_.duplicates().currentDuplicateResolutionItem()) {
        switch (onDuplicate_) {
        case ConsoleAnswer::overwrite:
            model_.duplicates().resolveDuplicate(DuplicateFileResolution::overwrite);
            return;
        case ConsoleAnswer::cancel:
            model_.duplicates().resolveDuplicate(DuplicateFileResolution::cancel);
            return;
        case ConsoleAnswer::ask:
            askDuplicate(*item);
            return;
        default:
            model_.duplicates().resolveDuplicate(DuplicateFileResolution::keepCopy);
            return;
        }
    }
}

void ServerConsole::askConfirmation(const ReceiveConfirmationAlertItem& item)
{
    prompt_ = Prompt::confirmation;
    promptedID_ = item.identity();
    QString question =
        item.queueCount < 2
            ? QStringLiteral("Receive %1 from %2?").arg(describe(item.pending), visible(item.pending.deviceFolder))
            : QStringLiteral("Receive %1 files from %2?").arg(item.queueCount).arg(visible(item.pending.deviceFolder));
    if (item.queueCount >= 2) {
        for (const auto& pending : model_.confirmations().confirmationQueue()) {
            question += QStringLiteral("\n  ") + describe(pending);
        }
    }
    std::fprintf(prompts_, "%s [y/N] ", question.toUtf8().constData());
    std::fflush(prompts_);
    if (answersClosed_) {
        apply({});
    }
}

void ServerConsole::askDuplicate(const DuplicateResolutionAlertItem& item)
{
    prompt_ = Prompt::duplicate;
    promptedID_ = item.identity();
    std::fprintf(prompts_, "%s exists. Overwrite, keep both or cancel? [o/K/c] ",
                 visible(item.pending.existingFilePath).toUtf8().constData());
    std::fflush(prompts_);
    if (answersClosed_) {
        apply({});
    }
}

void ServerConsole::readAnswers()
{
    char buffer[4096];
    const ssize_t count = read(answersFD_, buffer, sizeof buffer);
    if (count <= 0) {
        // No terminal any more: every question from now on gets the cautious answer.
        answersClosed_ = true;
        answersReady_.setEnabled(false);
        if (prompt_ != Prompt::none) {
            apply({});
        }
        return;
    }
    pendingInput_.append(buffer, static_cast<qsizetype>(count));
    qsizetype newline = 0;
    while ((newline = pendingInput_.indexOf('\n')) >= 0) {
        const QString line = QString::fromUtf8(pendingInput_.left(newline)).trimmed();
        pendingInput_.remove(0, newline + 1);
        if (prompt_ != Prompt::none) {
            apply(line);
        } else if (line == QLatin1String("cancel")) {
            cancelUploadsInFlight();
        }
    }
}

void ServerConsole::cancelUploadsInFlight()
{
    const auto receives = model_.activeReceives();
    for (const auto& progress : receives) {
        model_.cancelReceive(progress.id);
    }
    printLine(QStringLiteral("cancelled %1 uploads").arg(receives.size()));
}

void ServerConsole::apply(const QString& answer)
{
    const Prompt prompt = std::exchange(prompt_, Prompt::none);
    if (prompt == Prompt::confirmation) {
        model_.confirmations().respondToCurrentConfirmation(
            answer == QLatin1String("y") || answer == QLatin1String("Y") || answer == QLatin1String("yes"));
    } else if (prompt == Prompt::duplicate) {
        if (answer == QLatin1String("o") || answer == QLatin1String("overwrite")) {
            model_.duplicates().resolveDuplicate(DuplicateFileResolution::overwrite);
        } else if (answer == QLatin1String("c") || answer == QLatin1String("cancel")) {
            model_.duplicates().resolveDuplicate(DuplicateFileResolution::cancel);
        } else {
            model_.duplicates().resolveDuplicate(DuplicateFileResolution::keepCopy);
        }
    }
    answerQuestions();
}

void ServerConsole::printLine(const QString& line)
{
    std::fprintf(output_, "%s\n", line.toUtf8().constData());
    std::fflush(output_);
}

} // namespace ferrylantern
