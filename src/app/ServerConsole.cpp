#include "app/ServerConsole.h"

#include <unistd.h>

namespace ferrylantern {

namespace {

QString describe(const PendingReceiveConfirmation& pending)
{
    return QStringLiteral("%1 (%2 bytes)").arg(pending.fileName).arg(pending.byteCount);
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
    answersReady_.setEnabled(confirm_ == ConsoleAnswer::ask || onDuplicate_ == ConsoleAnswer::ask);
    connect(&answersReady_, &QSocketNotifier::activated, this, &ServerConsole::readAnswers);
    // Queued: answering changes the queue, which must not call back into the answer in progress.
    connect(&model_.confirmations(), &ReceiveConfirmationQueue::confirmationQueueChanged, this,
            &ServerConsole::answerQuestions, Qt::QueuedConnection);
    connect(&model_.duplicates(), &DuplicateResolutionQueue::duplicateQueueChanged, this,
            &ServerConsole::answerQuestions, Qt::QueuedConnection);
    connect(&model_, &TransferReceiverModel::fileReceived, this, [this](const ReceivedFileRecord& record) {
        printLine(QStringLiteral("saved %1 (%2 bytes)")
                      .arg(QString::fromStdString(record.fileURL.string()))
                      .arg(record.byteCount));
    });
    connect(&model_, &TransferReceiverModel::uploadFailed, this,
            [this](const Uuid&, const std::optional<TransferReceiveProgress>& progress) {
                printLine(progress ? QStringLiteral("failed %1 from %2").arg(progress->fileName, progress->deviceFolder)
                                   : QStringLiteral("failed upload (refused before it started)"));
            });
}

void ServerConsole::answerQuestions()
{
    if (prompt_ != Prompt::none) {
        return; // one question on the terminal at a time
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
    QString question =
        item.queueCount < 2
            ? QStringLiteral("Receive %1 from %2?").arg(describe(item.pending), item.pending.deviceFolder)
            : QStringLiteral("Receive %1 files from %2?").arg(item.queueCount).arg(item.pending.deviceFolder);
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
    std::fprintf(prompts_, "%s exists. Overwrite, keep both or cancel? [o/K/c] ",
                 item.pending.existingFilePath.toUtf8().constData());
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
        }
    }
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
