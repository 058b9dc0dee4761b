// The desktop process under many slow uploads: CPU and event-loop latency of the real main window
// (offscreen platform) while a child process keeps COUNT uploads running at RATE bytes per second each.
// With --headless the same receiver model runs without any window: the baseline, in the same run.
//
//   window_progress_bench [--headless] PACED_UPLOADS_JS [COUNT] [RATE] [SECONDS]
//
// Prints one line: "cpu_percent latency_p50_ms latency_p99_ms ok failed".
#include "receiver/TransferReceiverModel.h"
#include "ui/ContentView.h"
#include "ui/FerryLanternApp.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QProcess>
#include <QTemporaryDir>
#include <QTimer>

#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <fstream>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

using namespace ferrylantern;

namespace {

// utime + stime of this process in seconds.
double processCPUSeconds()
{
    std::ifstream stat("/proc/self/stat");
    std::string text((std::istreambuf_iterator<char>(stat)), {});
    std::istringstream fields(text.substr(text.rfind(')') + 2));
    std::string field;
    long long utime = 0;
    long long stime = 0;
    for (int index = 3; fields >> field; ++index) {
        if (index == 14) {
            utime = std::stoll(field);
        } else if (index == 15) {
            stime = std::stoll(field);
            break;
        }
    }
    return static_cast<double>(utime + stime) / static_cast<double>(sysconf(_SC_CLK_TCK));
}

double percentile(std::vector<double> values, double share)
{
    if (values.empty()) {
        return 0;
    }
    std::sort(values.begin(), values.end());
    return values[std::min(values.size() - 1, static_cast<std::size_t>(share * static_cast<double>(values.size())))];
}

} // namespace

int main(int argc, char** argv)
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication application(argc, argv);
    QStringList arguments = QCoreApplication::arguments().mid(1);
    const bool headless = arguments.removeAll(QStringLiteral("--headless")) > 0;
    if (arguments.isEmpty()) {
        std::fprintf(stderr, "usage: window_progress_bench [--headless] PACED_UPLOADS_JS [COUNT] [RATE] [SECONDS]\n");
        return 2;
    }
    const QString script = arguments.value(0);
    const QString count = arguments.value(1, QStringLiteral("64"));
    const QString rate = arguments.value(2, QStringLiteral("1000000"));
    const QString seconds = arguments.value(3, QStringLiteral("20"));

    const QTemporaryDir home;
    qputenv("HOME", home.path().toUtf8());
    qputenv("XDG_CONFIG_HOME", (home.path() + QStringLiteral("/.config")).toUtf8());
    ReceiverConfiguration configuration;
    configuration.preferredPort = 0;
    std::unique_ptr<FerryLanternApp> app;
    std::unique_ptr<TransferReceiverModel> bareModel;
    TransferReceiverModel* model = nullptr;
    if (headless) {
        bareModel = std::make_unique<TransferReceiverModel>(configuration);
        model = bareModel.get();
        model->start();
    } else {
        setUpApplicationIdentity();
        app = std::make_unique<FerryLanternApp>(configuration);
        app->showMainWindow();
        model = &app->mainWindow().model();
    }
    QElapsedTimer waited;
    waited.start();
    while (!model->port() && waited.elapsed() < 10000) {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 50);
    }
    if (!model->port()) {
        std::fprintf(stderr, "the receiver did not start\n");
        return 1;
    }

    // Event-loop latency: how late a task posted every 10 ms runs.
    std::vector<double> latencies;
    QElapsedTimer clock;
    clock.start();
    QTimer probe;
    probe.setInterval(10);
    QObject::connect(&probe, &QTimer::timeout, [&] {
        const qint64 posted = clock.nsecsElapsed();
        QMetaObject::invokeMethod(
            &probe, [&, posted] { latencies.push_back(static_cast<double>(clock.nsecsElapsed() - posted) / 1e6); },
            Qt::QueuedConnection);
    });

    QProcess uploads;
    uploads.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    double cpuAtStart = 0;
    qint64 startedAt = 0;
    // The first seconds (connections opening, rows appearing) are not the steady state being measured.
    QTimer::singleShot(3000, [&] {
        cpuAtStart = processCPUSeconds();
        startedAt = clock.nsecsElapsed();
        latencies.clear();
        probe.start();
    });
    QObject::connect(&uploads, &QProcess::finished, [&] { QCoreApplication::quit(); });
    uploads.start(QStringLiteral("node"), {script, QString::number(*model->port()), count, rate, seconds});
    QApplication::exec();

    const double cpu = processCPUSeconds() - cpuAtStart;
    const double wall = static_cast<double>(clock.nsecsElapsed() - startedAt) / 1e9;
    const QByteArray result = uploads.readAllStandardOutput().trimmed();
    std::printf("%.1f %.2f %.2f %s\n", 100.0 * cpu / wall, percentile(latencies, 0.5), percentile(latencies, 0.99),
                result.constData());
    (void)model->shutDown(std::chrono::seconds(3));
    return 0;
}
