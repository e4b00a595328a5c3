#include "consolecommand.h"

#include <QtTest>

namespace {
const QByteArray Otra = QByteArray::fromHex("4F545241");
const QString NoBytes = QStringLiteral("命令中没有字节：请输入十六进制字节，如 4F 54");

QString notHex(const QString &token, const QString &character)
{
    return QStringLiteral("命令无效：%1 中的 %2 不是十六进制数字（0-9、A-F）").arg(token, character);
}

QString oddDigits(const QString &token)
{
    return QStringLiteral("命令无效：%1 的位数为奇数，每个字节需要两位十六进制数字").arg(token);
}
} // namespace

class TestConsoleCommand : public QObject
{
    Q_OBJECT

private slots:
    void parse_data();
    void parse();
};

void TestConsoleCommand::parse_data()
{
    QTest::addColumn<QString>("typed");
    QTest::addColumn<QByteArray>("bytes"); // when accepted
    QTest::addColumn<QString>("error");    // empty: accepted

    QTest::newRow("bytes apart") << "4F 54 52 41" << Otra << QString();
    QTest::newRow("bytes together, lower case") << "4f545241" << Otra << QString();
    QTest::newRow("tabs and line breaks") << "4F\t54\n52\r\n41" << Otra << QString();
    QTest::newRow("one byte") << "00" << QByteArray(1, '\0') << QString();

    QTest::newRow("odd last token") << "4F 54 5" << QByteArray() << oddDigits("5");
    QTest::newRow("letter beyond F") << "4G" << QByteArray() << notHex("4G", "G");
    QTest::newRow("hex prefix") << "0x4F" << QByteArray() << notHex("0x4F", "x");
    QTest::newRow("full-width digit") << "4F \uFF14F" << QByteArray() << notHex("\uFF14F", "\uFF14");
    QTest::newRow("outside the basic plane")
        << QString::fromUtf8("4F\xF0\x9F\x98\x80") << QByteArray()
        << notHex(QString::fromUtf8("4F\xF0\x9F\x98\x80"), QString::fromUtf8("\xF0\x9F\x98\x80"));
    QTest::newRow("first fault counts") << "5 4G" << QByteArray() << oddDigits("5");
    QTest::newRow("only whitespace") << " \t\n " << QByteArray() << NoBytes;
    QTest::newRow("nothing") << "" << QByteArray() << NoBytes;
}

void TestConsoleCommand::parse()
{
    QFETCH(QString, typed);
    QFETCH(QByteArray, bytes);
    QFETCH(QString, error);
    QByteArray parsed;
    QString reason;
    QCOMPARE(ConsoleCommand::parse(typed, &parsed, &reason), error.isEmpty());
    QCOMPARE(reason, error);
    if (error.isEmpty())
        QCOMPARE(parsed, bytes);
}

QTEST_MAIN(TestConsoleCommand)
#include "tst_consolecommand.moc"
