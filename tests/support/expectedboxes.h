#ifndef EXPECTEDBOXES_H
#define EXPECTEDBOXES_H

#include "messageboxes.h"

#include <QMutex>
#include <QStringList>

// Answers the program's message boxes during a test. Each expect() names the
// next box (title and text) and the button to press; a box that was not
// expected, or that differs, is recorded as a failure for check() to report.
class ExpectedBoxes
{
public:
    struct Box
    {
        QString title;
        QString text;
        QMessageBox::StandardButton answer;
    };

    ExpectedBoxes()
    {
        MessageBoxes::setHandler([this](MessageBoxes::Kind, const QString &title, const QString &text) {
            QMutexLocker lock(&m_mutex);
            if (m_expected.isEmpty()) {
                m_failures.append(QStringLiteral("unexpected box: %1 / %2").arg(title, text));
                return QMessageBox::Ok;
            }
            const Box box = m_expected.takeFirst();
            if (box.title != title || box.text != text)
                m_failures.append(QStringLiteral("expected %1 / %2, got %3 / %4")
                                      .arg(box.title, box.text, title, text));
            if (m_onShown)
                m_onShown();
            return box.answer;
        });
    }
    ~ExpectedBoxes() { MessageBoxes::setHandler(nullptr); }

    void expect(const QString &title, const QString &text,
                QMessageBox::StandardButton answer = QMessageBox::Ok)
    {
        QMutexLocker lock(&m_mutex);
        m_expected.append({title, text, answer});
    }
    // Runs while a box is "open" (before it is answered).
    void whileShown(std::function<void()> action) { m_onShown = std::move(action); }

    // Empty when every expected box was shown, in order, and no other.
    QString problems() const
    {
        QMutexLocker lock(&m_mutex);
        QStringList all = m_failures;
        for (const Box &box : m_expected)
            all.append(QStringLiteral("box not shown: %1 / %2").arg(box.title, box.text));
        return all.join(QLatin1Char('\n'));
    }

private:
    mutable QMutex m_mutex;
    QList<Box> m_expected;
    QStringList m_failures;
    std::function<void()> m_onShown;
};

// Fails the current test when the boxes did not go as expected.
#define VERIFY_BOXES(boxes) QVERIFY2((boxes).problems().isEmpty(), qPrintable((boxes).problems()))

#endif // EXPECTEDBOXES_H
