#include "messageboxes.h"

#include <QAbstractButton>
#include <QTimer>
#include <QtTest>

namespace {
// Acts on the modal box once it is open.
void whenBoxOpens(std::function<void(QMessageBox *)> action)
{
    QTimer::singleShot(50, [action] {
        auto *box = qobject_cast<QMessageBox *>(QApplication::activeModalWidget());
        QVERIFY(box);
        action(box);
    });
}

} // namespace

// The real boxes, answered with the keyboard as a user would.
class TestMessageBoxes : public QObject
{
    Q_OBJECT

private slots:
    void question_keysAndButtons_data()
    {
        QTest::addColumn<QString>("answer");
        QTest::addColumn<bool>("yes");
        QTest::newRow("Enter ends the upgrade") << "enter" << true;
        QTest::newRow("Escape ends the upgrade") << "escape" << true;
        QTest::newRow("Yes") << "yes" << true;
        QTest::newRow("No keeps it running") << "no" << false;
    }

    void question_keysAndButtons()
    {
        QFETCH(QString, answer);
        QFETCH(bool, yes);
        whenBoxOpens([&](QMessageBox *box) {
            QCOMPARE(box->icon(), QMessageBox::Warning);
            if (answer == QLatin1String("enter"))
                QTest::keyClick(box, Qt::Key_Return);
            else if (answer == QLatin1String("escape"))
                QTest::keyClick(box, Qt::Key_Escape);
            else
                box->button(answer == QLatin1String("yes") ? QMessageBox::Yes : QMessageBox::No)->click();
        });
        QCOMPARE(MessageBoxes::question(nullptr, QStringLiteral("提示"), QStringLiteral("正在升级中，是否结束？")), yes);
    }
};

QTEST_MAIN(TestMessageBoxes)
#include "tst_messageboxes.moc"
