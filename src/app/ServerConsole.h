// The desktop user's part when there is no window: answers the model's questions as the command line
// says, or asks on the terminal one question at a time, and prints one line per saved file, failed
// upload, received text and ended download of a shared file. Names and texts a sender chose are
// printed with control characters made visible. A line "cancel" typed while no question waits
// cancels every upload in flight.
//
// GUI thread only, like the model it watches.
#pragma once

#include "app/ServerCommandLine.h"
#include "receiver/TransferReceiverModel.h"

#include <QObject>
#include <QSocketNotifier>

#include <cstdio>

namespace ferrylantern {

class ServerConsole : public QObject
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(ServerConsole)

public:
    // Lines go to `output`; in ask mode questions go to `prompts` and answers come from `answers`.
    ServerConsole(TransferReceiverModel& model, const ServerCommandLine& commandLine, int answersFD = 0,
                  std::FILE* output = stdout, std::FILE* prompts = stderr, QObject* parent = nullptr);

private:
    enum class Prompt
    {
        none,
        confirmation,
        duplicate,
    };

    void answerQuestions();
    void askConfirmation(const ReceiveConfirmationAlertItem& item);
    void askDuplicate(const DuplicateResolutionAlertItem& item);
    void readAnswers();
    void apply(const QString& answer);
    void cancelUploadsInFlight();
    void printLine(const QString& line);
    // The identity of the question now at the head of the queue the prompt belongs to.
    std::optional<QString> currentHeadID() const;

    TransferReceiverModel& model_;
    std::optional<ConsoleAnswer> confirm_;
    ConsoleAnswer onDuplicate_;
    int answersFD_;
    std::FILE* output_;
    std::FILE* prompts_;
    QSocketNotifier answersReady_;
    QByteArray pendingInput_;
    bool answersClosed_ = false;
    Prompt prompt_ = Prompt::none;
    std::optional<QString> promptedID_; // the question on the terminal
};

} // namespace ferrylantern
