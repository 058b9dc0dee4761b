// Fresh state for each receiver test: a temporary home folder (so the default save folder lies in it),
// a preference file of its own, and a model on an ephemeral port of 127.0.0.1.
#pragma once

#include "receiver/TransferReceiverModel.h"
#include "tests/support/HttpTestClient.h"
#include "tests/support/TestSupport.h"

#include <QTest>

#include <gtest/gtest.h>

#include <memory>

namespace ferrylantern::test {

class ReceiverTest : public ::testing::Test
{
protected:
    ReceiverTest();
    ~ReceiverTest() override;

    // A new model reading the test's preferences; with a history file, it keeps its records there.
    std::unique_ptr<TransferReceiverModel> makeModel(std::optional<QString> historyFile = std::nullopt);
    // Starts `model` and waits until the start finished.
    void startAndWait(TransferReceiverModel& model);
    // Processes events until `condition` holds (bounded).
    static bool waitFor(const std::function<bool()>& condition, int milliseconds = 5000);
    // Sends a request from another thread while this thread keeps the event loop running.
    HttpReply requestWhileProcessing(TransferReceiverModel& model, const std::string& request);

    TemporaryFolder home;
    preferences::PreferenceScope scope;
    std::unique_ptr<TransferReceiverModel> model;

private:
    QByteArray previousHome_;
    QByteArray previousConfigHome_;
};

} // namespace ferrylantern::test
