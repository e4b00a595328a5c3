#include "ledger.h"

#include "logging.h"

#include <QFile>
#include <QFileInfo>
#include <QStorageInfo>
#include <algorithm>

namespace {
QString csvField(QString field)
{
    static const QString special = QStringLiteral(",\"\r\n");
    const bool quoted = std::any_of(field.cbegin(), field.cend(), [](QChar c) { return special.contains(c); });
    if (!quoted)
        return field;
    field.replace(QLatin1Char('"'), QLatin1String("\"\""));
    return QLatin1Char('"') + field + QLatin1Char('"');
}
} // namespace

QStringList Ledger::header()
{
    return {QStringLiteral("time"),          QStringLiteral("port"),          QStringLiteral("vid"),
            QStringLiteral("serial"),        QStringLiteral("hardware"),      QStringLiteral("firmware_before"),
            QStringLiteral("file"),          QStringLiteral("file_md5"),      QStringLiteral("firmware_after"),
            QStringLiteral("outcome"),       QStringLiteral("exit_code"),     QStringLiteral("seconds"),
            QStringLiteral("source")};
}

QStringList Ledger::fieldsOf(const Entry &entry)
{
    return {entry.time.toUTC().toString(Qt::ISODate),
            entry.port,
            QString::number(entry.vid),
            entry.serial,
            entry.hardware,
            entry.firmwareBefore,
            entry.fileName,
            entry.fileMd5,
            entry.firmwareAfter,
            entry.outcome,
            QString::number(entry.exitCode),
            QString::number(entry.seconds, 'f', 1),
            entry.source};
}

QString Ledger::line(const QStringList &fields)
{
    QStringList quoted;
    for (const QString &field : fields)
        quoted.append(csvField(field));
    return quoted.join(QLatin1Char(',')) + QStringLiteral("\r\n");
}

bool Ledger::open(const QString &path, QString *error)
{
    QMutexLocker lock(&m_mutex);
    m_path = path;
    const QStorageInfo disk(QFileInfo(path).absolutePath());
    if (disk.isValid() && disk.bytesAvailable() < ReserveBytes) {
        *error = QStringLiteral("the ledger %1 cannot be written: its disk is full").arg(path);
        return false;
    }
    const bool isNew = !QFileInfo::exists(path) || QFileInfo(path).size() == 0;
    m_columns = isNew ? header().size() : columnsOf(path);
    return write(isNew ? line(header()).toUtf8() : QByteArray(), error);
}

// A ledger begun by an earlier version has fewer columns, the first ones of
// today's header: its new lines keep its width, so every line stays under
// the header that names its fields. Any other file gets whole lines.
int Ledger::columnsOf(const QString &path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return header().size();
    const QStringList columns = QString::fromUtf8(file.readLine(MaxHeaderBytes)).trimmed().split(QLatin1Char(','));
    const bool earlier = columns.size() < header().size() && header().mid(0, columns.size()) == columns;
    return earlier ? columns.size() : header().size();
}

bool Ledger::append(const Entry &entry)
{
    QMutexLocker lock(&m_mutex);
    QString error;
    if (write(line(fieldsOf(entry).mid(0, m_columns)).toUtf8(), &error))
        return true;
    LOG_WARNING << "tavio-flash:" << error;
    return false;
}

// One write of the whole text on a file opened for appending.
bool Ledger::write(const QByteArray &bytes, QString *error)
{
    QFile file(m_path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Append | QIODevice::Unbuffered)
        || file.write(bytes) != bytes.size()) {
        *error = QStringLiteral("the ledger %1 cannot be written: %2").arg(m_path, file.errorString());
        return false;
    }
    return true;
}
