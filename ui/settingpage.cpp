#include "settingpage.h"

#include "catalogues.h"
#include "logging.h"
#include "messageboxes.h"
#include "programfiles.h"
#include "ui_settingpage.h"

#include <QScrollBar>
#include <QSettings>
#include <QTextBlock>
#include <QTextCursor>
#include <QTime>

namespace {
const char LanguageKey[] = "lang";
const char EnglishValue[] = "english";
const char ChineseValue[] = "chinese";
const char LogTimeFormat[] = "[hh:mm:ss] ";
// Lines the log view keeps, a long bench day of them; older ones drop off the
// top. A limit also turns off the view's undo history, which would keep every
// count a run replaced.
constexpr int LogViewMaxLines = 10000;
// Before a repeated message's count; the embedded font has it.
const QChar RepeatSign(0x00D7);
} // namespace

SettingPage::SettingPage(QWidget *parent)
    : QWidget(parent)
    , ui(new Ui::SettingPage)
{
    LOG_INFO << "SettingPage start";
    ui->setupUi(this);
    pageInit();
    LOG_INFO << "SettingPage end";
}

SettingPage::~SettingPage() = default;

void SettingPage::adoptTranslator(QTranslator *startup)
{
    m_startupTranslator.reset(startup);
}

// Selecting the saved language here is no user choice: start-up has already
// installed its catalogue.
void SettingPage::pageInit()
{
    ui->plainTextEdit->setMaximumBlockCount(LogViewMaxLines);
    setting = std::make_unique<QSettings>(ProgramFiles::settingsPath(), QSettings::IniFormat);
    ui->cmbLanguageList->insertItem(Chinese, tr("中文"));
    ui->cmbLanguageList->insertItem(English, tr("English"));
    const QString key = QString::fromLatin1(LanguageKey);
    if (setting->contains(key)) {
        const bool english = setting->value(key).toString() == QLatin1String(EnglishValue);
        ui->cmbLanguageList->setCurrentIndex(english ? English : Chinese);
    }
}

// A transfer repeats its progress message for every segment: the run is one
// line whose count changes in place. The run goes on only while its line is
// still the last one as written: the user may have edited the view, and a
// message of several lines is never folded.
void SettingPage::handleLogMessage(const QString &message)
{
    QPlainTextEdit *view = ui->plainTextEdit;
    const QString stamp = QTime::currentTime().toString(QString::fromLatin1(LogTimeFormat));
    const QTextBlock last = view->document()->lastBlock();
    if (m_logRun.count > 0 && message == m_logRun.message && last.text() == m_logRun.line) {
        ++m_logRun.count;
        m_logRun.line = stamp + message + QLatin1Char(' ') + RepeatSign + QString::number(m_logRun.count);
        QTextCursor cursor(last);
        cursor.movePosition(QTextCursor::EndOfBlock, QTextCursor::KeepAnchor);
        cursor.insertText(m_logRun.line);
    } else {
        m_logRun = {message, 1, stamp + message};
        view->appendPlainText(m_logRun.line);
    }
    QScrollBar *scrollBar = view->verticalScrollBar();
    scrollBar->setValue(scrollBar->maximum());
}

// While the page is hidden the log view scrolls with the range of a view one
// line high, and showing it does not recompute that range: lines logged
// meanwhile would leave the newest one alone at the top of an empty view.
// Switching the scroll mode there and back makes the view recompute it.
void SettingPage::showEvent(QShowEvent *event)
{
    QWidget::showEvent(event);
    QPlainTextEdit *view = ui->plainTextEdit;
    view->setCenterOnScroll(!view->centerOnScroll());
    view->setCenterOnScroll(!view->centerOnScroll());
    QScrollBar *scrollBar = view->verticalScrollBar();
    scrollBar->setValue(scrollBar->maximum());
}

void SettingPage::changeEvent(QEvent *event)
{
    if (event->type() == QEvent::LanguageChange)
        ui->retranslateUi(this);
    QWidget::changeEvent(event);
}

void SettingPage::on_btnLog_clicked()
{
    LOG_INFO << "log btn clicked";
}

// Only one catalogue of the program applies at a time: the start-up one and
// the previous choice are taken out before the new one goes in; Qt's own
// follows the same language. Every widget, this page included, retranslates
// itself on the resulting language-change event.
void SettingPage::on_cmbLanguageList_activated(int index)
{
    LOG_INFO << "language change, index:" << index;
    const bool english = index == English;
    const Catalogues::Language language = english ? Catalogues::Language::English
                                                  : Catalogues::Language::Chinese;
    m_startupTranslator.reset();
    QCoreApplication::removeTranslator(&m_translator);
    Catalogues::installQtCatalogue(language);
    // A catalogue that fails to load leaves the Chinese source texts.
    m_translator.load(Catalogues::programCatalogue(language));
    setting->setValue(QString::fromLatin1(LanguageKey),
                      QString::fromLatin1(english ? EnglishValue : ChineseValue));
    setting->sync();
    QCoreApplication::installTranslator(&m_translator);
}

void SettingPage::on_SerialSendBtn_clicked()
{
    const QString text = ui->lineEdit->text();
    LOG_INFO << "on pushButton clicked" << text;
    if (text.isEmpty()) {
        MessageBoxes::warning(this, tr("提示"), tr("请输入指令"));
        return;
    }
    emit sendTextToDevice(text);
    LOG_INFO << "sendTextToDevice";
}
