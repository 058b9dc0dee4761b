#include "receiver/TransferHistoryStore.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QSaveFile>
#include <QStandardPaths>

#include <chrono>
#include <cmath>

namespace ferrylantern {

namespace {

// Bumped when the layout changes incompatibly; a file of another version counts as damaged.
constexpr int historyFormatVersion = 1;
// More than a hundred records ever take, a hundred texts of 64 KiB of control characters included
// (each written as "\u0001": 39 MB); a larger file is not ours.
constexpr qint64 maxHistoryFileBytes = 64 * 1024 * 1024;

using Milliseconds = std::chrono::milliseconds;

QJsonObject encodeRecord(const ReceivedFileRecord& record)
{
    const auto receivedAt = std::chrono::duration_cast<Milliseconds>(record.receivedAt.time_since_epoch()).count();
    QJsonObject object{
        {QStringLiteral("id"), QString::fromStdString(record.id.text())},
        {QStringLiteral("fileName"), QString::fromStdString(record.fileName)},
        {QStringLiteral("byteCount"), static_cast<qint64>(record.byteCount)},
        {QStringLiteral("receivedAtMs"), static_cast<qint64>(receivedAt)},
        {QStringLiteral("filePath"), QString::fromStdString(record.fileURL.string())},
        {QStringLiteral("deviceFolder"), QString::fromStdString(record.deviceFolder)},
    };
    // Only texts carry the member, so a history of files reads the same as before texts existed.
    if (record.text) {
        object.insert(QStringLiteral("text"), QString::fromStdString(*record.text));
    }
    return object;
}

std::optional<ReceivedFileRecord> decodeRecord(const QJsonValue& value)
{
    if (!value.isObject()) {
        return std::nullopt;
    }
    const QJsonObject object = value.toObject();
    const auto text = [&](const char* key) -> std::optional<std::string> {
        const QJsonValue member = object.value(QLatin1String(key));
        return member.isString() ? std::optional(member.toString().toStdString()) : std::nullopt;
    };
    // JSON numbers are doubles: integers above 2^53 would come back changed, so they are refused.
    const auto integer = [&](const char* key) -> std::optional<qint64> {
        const QJsonValue member = object.value(QLatin1String(key));
        constexpr double exactLimit = 9007199254740992.0;
        if (!member.isDouble() || member.toDouble() != static_cast<double>(member.toInteger()) ||
            std::abs(member.toDouble()) > exactLimit) {
            return std::nullopt;
        }
        return member.toInteger();
    };
    const auto idText = text("id");
    const auto fileName = text("fileName");
    const auto filePath = text("filePath");
    const auto deviceFolder = text("deviceFolder");
    const auto byteCount = integer("byteCount");
    const auto receivedAt = integer("receivedAtMs");
    const bool hasText = object.contains(QStringLiteral("text"));
    const auto receivedText = text("text");
    if (!idText || !fileName || !filePath || !deviceFolder || !byteCount || !receivedAt || *byteCount < 0 ||
        (hasText && !receivedText) || (!hasText && (fileName->empty() || filePath->empty()))) {
        return std::nullopt;
    }
    const auto id = Uuid::parse(*idText);
    if (!id) {
        return std::nullopt;
    }
    return ReceivedFileRecord{*id,
                              *fileName,
                              *byteCount,
                              std::chrono::system_clock::time_point(Milliseconds(*receivedAt)),
                              std::filesystem::path(*filePath),
                              *deviceFolder,
                              receivedText};
}

} // namespace

QString TransferHistoryStore::defaultLocation()
{
    return QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation) +
           QStringLiteral("/FerryLantern/recent-transfers.json");
}

TransferHistoryStore::TransferHistoryStore(QString file)
    : file_(std::move(file))
{}

QByteArray TransferHistoryStore::encode(const QList<ReceivedFileRecord>& records)
{
    QJsonArray transfers;
    for (const auto& record : records) {
        transfers.append(encodeRecord(record));
    }
    const QJsonObject root{{QStringLiteral("version"), historyFormatVersion}, {QStringLiteral("transfers"), transfers}};
    return QJsonDocument(root).toJson(QJsonDocument::Indented);
}

std::optional<QList<ReceivedFileRecord>> TransferHistoryStore::decode(const QByteArray& bytes)
{
    QJsonParseError error{};
    const QJsonDocument document = QJsonDocument::fromJson(bytes, &error);
    if (error.error != QJsonParseError::NoError || !document.isObject()) {
        return std::nullopt;
    }
    const QJsonObject root = document.object();
    if (root.value(QStringLiteral("version")).toInt(-1) != historyFormatVersion ||
        !root.value(QStringLiteral("transfers")).isArray()) {
        return std::nullopt;
    }
    QList<ReceivedFileRecord> records;
    for (const QJsonValue& value : root.value(QStringLiteral("transfers")).toArray()) {
        auto record = decodeRecord(value);
        if (!record) {
            return std::nullopt;
        }
        records.append(std::move(*record));
    }
    return records;
}

TransferHistoryStore::Loaded TransferHistoryStore::load(qsizetype limit) const
{
    QFile file(file_);
    if (!file.exists()) {
        return {};
    }
    std::optional<QList<ReceivedFileRecord>> records;
    if (file.size() <= maxHistoryFileBytes && file.open(QIODevice::ReadOnly)) {
        records = decode(file.readAll());
        file.close();
    }
    if (records) {
        if (records->size() > limit) {
            records->resize(limit);
        }
        return {std::move(*records), std::nullopt};
    }
    // Kept for whoever wants to look at it, out of the way of the next save.
    const QString stem =
        file_ + QStringLiteral(".damaged-") + QDateTime::currentDateTime().toString(QStringLiteral("yyyyMMdd-HHmmss"));
    QString aside = stem;
    for (int copy = 2; QFile::exists(aside); ++copy) {
        aside = stem + QLatin1Char('-') + QString::number(copy);
    }
    if (!QFile::rename(file_, aside)) {
        qWarning("FerryLantern: the history file %s is damaged and could not be set aside; it will be replaced",
                 qUtf8Printable(file_));
        return {};
    }
    qWarning("FerryLantern: the history file was damaged and has been moved to %s", qUtf8Printable(aside));
    return {{}, aside};
}

bool TransferHistoryStore::save(const QList<ReceivedFileRecord>& records) const
{
    if (!QDir().mkpath(QFileInfo(file_).absolutePath())) {
        return false;
    }
    QSaveFile file(file_);
    if (!file.open(QIODevice::WriteOnly)) {
        return false;
    }
    const QByteArray bytes = encode(records);
    if (file.write(bytes) != bytes.size()) {
        file.cancelWriting();
        return false;
    }
    return file.commit();
}

} // namespace ferrylantern
