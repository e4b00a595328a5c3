#include "firmwarerules.h"

#include <QRegularExpression>
#include <QtTest>

#include <cstring>
#include <memory>

namespace {

struct LoggedMessage
{
    QtMsgType type;
    QString text;
};

QVector<LoggedMessage> g_messages;
QtMessageHandler g_previousHandler = nullptr;

// Fatal messages still reach the test runner, so an abort says why.
void captureMessage(QtMsgType type, const QMessageLogContext &context, const QString &text)
{
    g_messages.append({type, text});
    if (type == QtFatalMsg && g_previousHandler)
        g_previousHandler(type, context, text);
}

// The device's firmware field: exactly FirmwareCapacity bytes on the heap,
// NUL-padded when the text is shorter and unterminated when it fills the
// field, so the sanitizer sees any read past its end.
class FirmwareField
{
public:
    explicit FirmwareField(const QByteArray &text)
        : m_bytes(new char[FirmwareRules::FirmwareCapacity]())
    {
        Q_ASSERT(text.size() <= FirmwareRules::FirmwareCapacity);
        std::memcpy(m_bytes.get(), text.constData(), size_t(text.size()));
    }

    const char *data() const { return m_bytes.get(); }

private:
    std::unique_ptr<char[]> m_bytes;
};

// A firmware text that fills the whole field and ends in `tail`.
QByteArray fullField(const QByteArray &tail)
{
    return QByteArray(FirmwareRules::FirmwareCapacity - tail.size(), 'x') + tail;
}

// "Unit_R_Sky" followed by 27 version numbers fills the field exactly; the
// last number sits in its last byte.
const int FullFieldVersionCount = 27;

QByteArray fullFieldVersion(char lastNumber)
{
    return QByteArray("Unit_R_Sky") + QByteArray("_1").repeated(FullFieldVersionCount - 1) + '_'
        + lastNumber;
}

// The message's own items after the "[func: name , line: n ] " prefix, or a
// null string when the message does not carry that prefix for `function`.
QString ownItems(const QString &message, const QString &function)
{
    static const QRegularExpression prefix(
        QStringLiteral("^\\[func: (\\w+) , line: \\d+ \\]  (.*)$"),
        QRegularExpression::DotMatchesEverythingOption);
    const QRegularExpressionMatch match = prefix.match(message);
    if (!match.hasMatch() || match.captured(1) != function)
        return QString();
    return match.captured(2);
}

int countLogged(QtMsgType type, const QString &function, const QString &items)
{
    return int(std::count_if(g_messages.cbegin(), g_messages.cend(), [&](const LoggedMessage &m) {
        return m.type == type && ownItems(m.text, function) == items;
    }));
}

} // namespace

Q_DECLARE_METATYPE(QtMsgType)

// The upgrade page and its callers rely on these plain values.
static_assert(FirmwareRules::CheckOk == 0 && FirmwareRules::CheckFormatError == -1
                  && FirmwareRules::CheckVersionError == -2,
              "check results");
static_assert(FirmwareRules::UnitNone == -1 && FirmwareRules::UnitOther == 0
                  && FirmwareRules::UnitGround == 1 && FirmwareRules::UnitSky == 2,
              "unit kinds");

class TestFirmwareRules : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();

    void isPackageNameValid_matchesWholeFileName_data();
    void isPackageNameValid_matchesWholeFileName();
    void checkPrefixAndVersion_decides_data();
    void checkPrefixAndVersion_decides();
    void checkPrefixAndVersion_logsEachStep_data();
    void checkPrefixAndVersion_logsEachStep();
    void checkPrefixAndVersion_startsWithUnprefixedBlock_data();
    void checkPrefixAndVersion_startsWithUnprefixedBlock();
    void checkFirmware_tellsUnitKind_data();
    void checkFirmware_tellsUnitKind();
    void getDeviceName_keepsFirstThreeFields_data();
    void getDeviceName_keepsFirstThreeFields();
    void isMultiImageLine_needsBoardAndMarker_data();
    void isMultiImageLine_needsBoardAndMarker();
};

void TestFirmwareRules::init()
{
    g_messages.clear();
    g_previousHandler = qInstallMessageHandler(captureMessage);
}

void TestFirmwareRules::cleanup()
{
    qInstallMessageHandler(g_previousHandler);
}

void TestFirmwareRules::isPackageNameValid_matchesWholeFileName_data()
{
    QTest::addColumn<QString>("filePath");
    QTest::addColumn<bool>("valid");
    QTest::newRow("prefix and three numbers") << "Unit_R_Sky_1_0_5.img" << true;
    QTest::newRow("upper-case extension") << "Unit_R_Sky_1_0_5.IMG" << false;
    QTest::newRow("dotted version") << "Unit_R_Sky_1.0.5.img" << false;
    QTest::newRow("hyphens in prefix") << "Unit-R-Sky_1.img" << false;
    QTest::newRow("no underscore group") << "UnitRSky1.img" << false;
    QTest::newRow("letter in last number") << "Unit_R_Sky_1_0_5a.img" << false;
    QTest::newRow("one character before the group") << "a_1.img" << true;
    QTest::newRow("nothing before the group") << "_1.img" << false;
    QTest::newRow("underscore before the group") << "__1.img" << true;
    QTest::newRow("other extension") << "Unit_R_Sky_1.bin" << false;
    QTest::newRow("double extension") << "Unit_R_Sky_1.img.img" << false;
    QTest::newRow("trailing line feed") << "Unit_R_Sky_1.img\n" << false;
    QTest::newRow("non-ASCII digit") << QString::fromUtf8("Unit_R_Sky_\u0661.img") << false;
    QTest::newRow("directories are ignored") << "/home/u/my-fw.v2/Unit_R_Sky_1_0_5.img" << true;
    QTest::newRow("only the last component counts") << "/fw/Unit_R_Sky_1.img/notes.txt" << false;
    QTest::newRow("backslash is not a separator") << "C:\\fw\\Unit_R_Sky_1.img" << false;
    QTest::newRow("path ending in a slash") << "/fw/Unit_R_Sky_1.img/" << false;
    QTest::newRow("empty path") << "" << false;
}

void TestFirmwareRules::isPackageNameValid_matchesWholeFileName()
{
    QFETCH(QString, filePath);
    QFETCH(bool, valid);
    QCOMPARE(FirmwareRules::isPackageNameValid(filePath), valid);
}

void TestFirmwareRules::checkPrefixAndVersion_decides_data()
{
    QTest::addColumn<QByteArray>("current");
    QTest::addColumn<QString>("target");
    QTest::addColumn<int>("result");

    const int ok = FirmwareRules::CheckOk;
    const int format = FirmwareRules::CheckFormatError;
    const int version = FirmwareRules::CheckVersionError;

    QTest::newRow("numbers compare numerically, not as text")
        << QByteArray("Unit_R_Sky_1_2_9") << "Unit_R_Sky_1_2_10.img" << ok;
    QTest::newRow("lower last number refused")
        << QByteArray("Unit_R_Sky_1_2_10") << "Unit_R_Sky_1_2_9.img" << version;
    QTest::newRow("missing current number counts as 0, equal")
        << QByteArray("Unit_R_Sky_1_2") << "Unit_R_Sky_1_2_0.img" << ok;
    QTest::newRow("missing current number counts as 0, newer")
        << QByteArray("Unit_R_Sky_1_2") << "Unit_R_Sky_1_2_1.img" << ok;
    QTest::newRow("missing target number counts as 0")
        << QByteArray("Unit_R_Sky_1_2_1") << "Unit_R_Sky_1_2.img" << version;
    QTest::newRow("same version reinstalled")
        << QByteArray("Unit_R_Sky_1_0_5") << "Unit_R_Sky_1_0_5.img" << ok;
    QTest::newRow("most significant number decides")
        << QByteArray("Unit_R_Sky_2_0_0") << "Unit_R_Sky_1_9_9.img" << version;
    QTest::newRow("prefix compared case-sensitively")
        << QByteArray("Unit_R_Sky_1_2_0") << "unit_R_Sky_1_2_3.img" << format;
    QTest::newRow("other unit kind")
        << QByteArray("Unit_R_Sky_1_2_0") << "Unit_R_Gnd_1_2_3.img" << format;
    QTest::newRow("prefix lengths differ")
        << QByteArray("Unit_R_Sky_1_2_0") << "Unit_Sky_1_2_3.img" << format;
    QTest::newRow("numeric part inside prefix, newer")
        << QByteArray("Unit_2_Sky_1_0") << "Unit_2_Sky_1_1.img" << ok;
    QTest::newRow("numeric part inside prefix is not version")
        << QByteArray("Unit_2_Sky_1_0") << "Unit_2_Sky_0_9.img" << version;
    QTest::newRow("numeric part inside prefix must match")
        << QByteArray("Unit_2_Sky_1_0") << "Unit_3_Sky_1_1.img" << format;
    QTest::newRow("current with extension matches nothing, newer")
        << QByteArray("Unit_R_Sky_1_0_5.img") << "Unit_R_Sky_1_0_6.img" << format;
    QTest::newRow("current with extension matches nothing, same")
        << QByteArray("Unit_R_Sky_1_0_5.img") << "Unit_R_Sky_1_0_5.img" << format;
    QTest::newRow("numbers-only current")
        << QByteArray("1_0_5") << "Unit_R_Sky_1_0_5.img" << format;
    QTest::newRow("numbers only on both sides")
        << QByteArray("1_0_5") << "1_0_6.img" << format;
    QTest::newRow("empty current") << QByteArray() << "Unit_R_Sky_1.img" << format;
    QTest::newRow("empty target") << QByteArray("Unit_R_Sky_1") << "" << format;
    QTest::newRow("doubled underscores dropped, equal")
        << QByteArray("Unit_R_Sky_1") << "Unit__R_Sky_1.img" << ok;
    QTest::newRow("doubled underscores dropped, lower")
        << QByteArray("Unit_R_Sky_2") << "Unit__R_Sky_1.img" << version;
    QTest::newRow("leading and trailing underscores dropped")
        << QByteArray("_Unit_R_Sky_1_") << "Unit_R_Sky_1.img" << ok;
    QTest::newRow("extension starts at the first dot")
        << QByteArray("Unit_R_Sky_1_0") << "Unit_R_Sky_1.5_0.img" << ok;
    QTest::newRow("target without extension")
        << QByteArray("Unit_R_Sky_1") << "Unit_R_Sky_2" << ok;
    QTest::newRow("leading zeros: 007 equals 7")
        << QByteArray("Unit_R_Sky_7") << "Unit_R_Sky_007.img" << ok;
    QTest::newRow("leading zeros: 007 below 8")
        << QByteArray("Unit_R_Sky_8") << "Unit_R_Sky_007.img" << version;
    QTest::newRow("leading zeros: 9 below 010")
        << QByteArray("Unit_R_Sky_010") << "Unit_R_Sky_9.img" << version;
    QTest::newRow("largest 32-bit number is numeric")
        << QByteArray("Unit_R_Sky_4294967295") << "Unit_R_Sky_4294967294.img" << version;
    QTest::newRow("above 32 bits is not numeric in target")
        << QByteArray("Unit_R_Sky_1") << "Unit_R_Sky_4294967296.img" << format;
    QTest::newRow("above 32 bits is not numeric in current")
        << QByteArray("Unit_R_Sky_4294967296") << "Unit_R_Sky_1.img" << format;
    QTest::newRow("plus sign is not numeric")
        << QByteArray("Unit_R_Sky_5") << "Unit_R_Sky_+6.img" << format;
    QTest::newRow("minus sign is not numeric")
        << QByteArray("Unit_R_Sky_-1") << "Unit_R_Sky_5.img" << format;
    QTest::newRow("blank is not numeric")
        << QByteArray("Unit_R_Sky_5") << "Unit_R_Sky_ 6.img" << format;
    QTest::newRow("trailing letter is not numeric")
        << QByteArray("Unit_R_Sky_5a") << "Unit_R_Sky_6.img" << format;
    QTest::newRow("UTF-8 current compared as text")
        << QByteArray("Unité_R_Sky_1") << QString::fromUtf8("Unité_R_Sky_2.img") << ok;
    QTest::newRow("field without NUL read to its last byte, lower")
        << fullFieldVersion('1') << QString::fromLatin1(fullFieldVersion('0') + ".img") << version;
    QTest::newRow("field without NUL read to its last byte, equal")
        << fullFieldVersion('1') << QString::fromLatin1(fullFieldVersion('1') + ".img") << ok;
}

void TestFirmwareRules::checkPrefixAndVersion_decides()
{
    QFETCH(QByteArray, current);
    QFETCH(QString, target);
    QFETCH(int, result);
    const FirmwareField field(current);
    QCOMPARE(FirmwareRules::checkPrefixAndVersion(field.data(), target), result);
}

void TestFirmwareRules::checkPrefixAndVersion_logsEachStep_data()
{
    QTest::addColumn<QByteArray>("current");
    QTest::addColumn<QString>("target");
    QTest::addColumn<QtMsgType>("level");
    QTest::addColumn<QString>("items");

    const QByteArray current("Unit_R_Sky_1_2_9");
    const QString newer("Unit_R_Sky_1_2_10.img");
    QTest::newRow("extension stripped from target only")
        << current << newer << QtInfoMsg
        << R"([Upgrade::check] strip ext -> curName = "Unit_R_Sky_1_2_9" tgtName = "Unit_R_Sky_1_2_10")";
    QTest::newRow("parts listed")
        << QByteArray("Unit__R_1") << "Unit_R_2.img" << QtInfoMsg
        << R"([Upgrade::check] split parts -> curParts = ("Unit", "R", "1") tgtParts = ("Unit", "R", "2"))";
    QTest::newRow("version start indexes")
        << current << "Unit_Sky_1.img" << QtInfoMsg
        << "[Upgrade::check] version start index -> curVerStart = 3 tgtVerStart = 2";
    QTest::newRow("prefix count mismatch")
        << current << "Unit_Sky_1.img" << QtInfoMsg
        << "[Upgrade::check] prefix segment count mismatch -> FORMAT_ERR";
    QTest::newRow("prefix mismatch names its position")
        << QByteArray("Unit_R_Sky_1_2_0") << "Unit_R_Gnd_1_2_3.img" << QtWarningMsg
        << R"([Upgrade::check] prefix mismatch @ 2 cur = "Sky" tgt = "Gnd" -> FORMAT_ERR)";
    QTest::newRow("prefix joined")
        << current << newer << QtInfoMsg << R"([Upgrade::check] prefix OK -> "Unit_R_Sky")";
    QTest::newRow("version vectors")
        << current << newer << QtInfoMsg
        << "[Upgrade::check] version vectors -> curVer = QVector(1, 2, 9) tgtVer = QVector(1, 2, 10)";
    QTest::newRow("newer accepted")
        << current << newer << QtInfoMsg << "[Upgrade::check] tgt > cur -> OK";
    QTest::newRow("lower warns VERSION_ERR")
        << QByteArray("Unit_R_Sky_1_2_10") << "Unit_R_Sky_1_2_9.img" << QtWarningMsg
        << "[Upgrade::check] tgt < cur -> VERSION_ERR";
    QTest::newRow("equal accepted")
        << current << "Unit_R_Sky_1_2_9.img" << QtInfoMsg << "[Upgrade::check] versions equal -> OK";
}

void TestFirmwareRules::checkPrefixAndVersion_logsEachStep()
{
    QFETCH(QByteArray, current);
    QFETCH(QString, target);
    QFETCH(QtMsgType, level);
    QFETCH(QString, items);
    const FirmwareField field(current);
    FirmwareRules::checkPrefixAndVersion(field.data(), target);
    QCOMPARE(countLogged(level, QStringLiteral("checkPrefixAndVersion"), items), 1);
}

void TestFirmwareRules::checkPrefixAndVersion_startsWithUnprefixedBlock_data()
{
    QTest::addColumn<QByteArray>("current");
    QTest::addColumn<QString>("target");
    QTest::addColumn<QString>("block");
    QTest::newRow("names written unquoted")
        << QByteArray("Unit_R_Sky_1") << "Unit_R_Sky_2.img"
        << "[Upgrade::check] ===== start =====\n  current : Unit_R_Sky_1\n  target  : Unit_R_Sky_2.img";
    QTest::newRow("percent signs in names kept")
        << QByteArray("Unit_%2_Sky_1") << "Unit_%1_Sky_1.img"
        << "[Upgrade::check] ===== start =====\n  current : Unit_%2_Sky_1\n  target  : Unit_%1_Sky_1.img";
}

void TestFirmwareRules::checkPrefixAndVersion_startsWithUnprefixedBlock()
{
    QFETCH(QByteArray, current);
    QFETCH(QString, target);
    QFETCH(QString, block);
    const FirmwareField field(current);
    FirmwareRules::checkPrefixAndVersion(field.data(), target);
    QVERIFY(!g_messages.isEmpty());
    QCOMPARE(g_messages.first().type, QtDebugMsg);
    QCOMPARE(g_messages.first().text, block);
}

void TestFirmwareRules::checkFirmware_tellsUnitKind_data()
{
    QTest::addColumn<QByteArray>("firmware");
    QTest::addColumn<int>("kind");
    QTest::newRow("ground in lower case")
        << QByteArray("xx_gnd_yy") << int(FirmwareRules::UnitGround);
    QTest::newRow("sky") << QByteArray("Unit_R_Sky_1") << int(FirmwareRules::UnitSky);
    QTest::newRow("ground wins over sky")
        << QByteArray("Unit_Sky_GND_1") << int(FirmwareRules::UnitGround);
    QTest::newRow("neither") << QByteArray("Unit_R_Air_1") << int(FirmwareRules::UnitOther);
    QTest::newRow("empty") << QByteArray() << int(FirmwareRules::UnitNone);
    QTest::newRow("text after a NUL ignored")
        << QByteArray("Unit_R_Air\0GND", 14) << int(FirmwareRules::UnitOther);
    QTest::newRow("tag in the last bytes of a full field")
        << fullField("GND") << int(FirmwareRules::UnitGround);
}

void TestFirmwareRules::checkFirmware_tellsUnitKind()
{
    QFETCH(QByteArray, firmware);
    QFETCH(int, kind);
    const FirmwareField field(firmware);
    QCOMPARE(FirmwareRules::checkFirmware(field.data()), kind);
}

void TestFirmwareRules::getDeviceName_keepsFirstThreeFields_data()
{
    QTest::addColumn<QString>("firmware");
    QTest::addColumn<QString>("name");
    QTest::newRow("version fields dropped") << "Unit_R_Sky_1_0_5" << "Unit R Sky";
    QTest::newRow("exactly three fields") << "Unit_R_Sky" << "Unit R Sky";
    QTest::newRow("two fields") << "Unit_R" << "Unit R";
    QTest::newRow("no underscore") << "UnitRSky" << "UnitRSky";
    QTest::newRow("empty field counts") << "Unit__R_Sky" << "Unit  R";
    QTest::newRow("leading underscore counts") << "_Unit_R_Sky" << " Unit R";
    QTest::newRow("empty") << "" << "";
}

void TestFirmwareRules::getDeviceName_keepsFirstThreeFields()
{
    QFETCH(QString, firmware);
    QFETCH(QString, name);
    QCOMPARE(FirmwareRules::getDeviceName(firmware), name);
    QCOMPARE(countLogged(QtInfoMsg, QStringLiteral("getDeviceName"),
                         QStringLiteral("get Device Name Three Parts:  \"%1\"").arg(name)),
             1);
}

void TestFirmwareRules::isMultiImageLine_needsBoardAndMarker_data()
{
    QTest::addColumn<int>("boardType");
    QTest::addColumn<QByteArray>("firmware");
    QTest::addColumn<bool>("multiImage");
    const QByteArray line("Merlow_R_Sky_1_0_5");
    QTest::newRow("marked sky unit of the multi-image board")
        << int(AR_FPV_BOARD_TYPE_SKY_EX6) << line << true;
    QTest::newRow("other board") << int(AR_FPV_BOARD_TYPE_SKY_EX4) << line << false;
    QTest::newRow("marker in other case")
        << int(AR_FPV_BOARD_TYPE_SKY_EX6) << QByteArray("merlow_r_sky_1_0_5") << false;
    QTest::newRow("marker anywhere in the string")
        << int(AR_FPV_BOARD_TYPE_SKY_EX6) << QByteArray("V2_Merlow_R_Sky_1") << true;
    QTest::newRow("marker without its underscore")
        << int(AR_FPV_BOARD_TYPE_SKY_EX6) << QByteArray("Merlow_R_Sky") << false;
    QTest::newRow("other unit line")
        << int(AR_FPV_BOARD_TYPE_SKY_EX6) << QByteArray("Unit_R_Sky_1") << false;
    QTest::newRow("marker in the last bytes of a full field")
        << int(AR_FPV_BOARD_TYPE_SKY_EX6) << fullField("Merlow_R_Sky_") << true;
}

void TestFirmwareRules::isMultiImageLine_needsBoardAndMarker()
{
    QFETCH(int, boardType);
    QFETCH(QByteArray, firmware);
    QFETCH(bool, multiImage);
    const FirmwareField field(firmware);
    QCOMPARE(FirmwareRules::isMultiImageLine(boardType, field.data()), multiImage);
}

QTEST_GUILESS_MAIN(TestFirmwareRules)
#include "tst_firmwarerules.moc"
