#ifndef LEDGER_H
#define LEDGER_H

#include <QDateTime>
#include <QMutex>
#include <QString>
#include <QStringList>

// The results ledger of --ledger: a CSV file (RFC 4180) with one line per
// device and attempt, its header written when the file is new. Every line is
// appended whole by one write of an append-only open, under a lock, so
// devices finishing at once (and other runs on the same file) never mix
// their lines.
class Ledger
{
public:
    struct Entry
    {
        QDateTime time; // when the attempt ended
        QString port;
        int vid = 0;
        QString serial;
        QString hardware;
        QString firmwareBefore;
        QString fileName;
        QString fileMd5;
        QString firmwareAfter; // when verified
        QString outcome;
        int exitCode = 0;
        double seconds = 0;
        QString source; // the image, folder or zip archive the file was chosen from
    };

    // Below this the disk is taken for full: a line must fit before any upgrade starts.
    static constexpr qint64 ReserveBytes = 64 * 1024;
    // Far more than a header of ours takes; a longer first line is no ledger of ours.
    static constexpr qint64 MaxHeaderBytes = 4096;

    // Creates the file with its header when it is new and checks that lines
    // can be added; false, with the reason, before any device is touched.
    bool open(const QString &path, QString *error);
    bool append(const Entry &entry);

    static QStringList header();
    static QString line(const QStringList &fields);
    static QStringList fieldsOf(const Entry &entry);

private:
    static int columnsOf(const QString &path);
    bool write(const QByteArray &bytes, QString *error);

    QMutex m_mutex;
    QString m_path;
    int m_columns = 0; // written of each entry's fields
};

#endif // LEDGER_H
