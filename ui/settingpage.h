#ifndef SETTINGPAGE_H
#define SETTINGPAGE_H

#include <QTranslator>
#include <QWidget>
#include <memory>

class QSettings;

namespace Ui {
class SettingPage;
}

// The settings page: interface language, the upgrade log view and the device
// console, whose typed command the upgrade page sends.
class SettingPage : public QWidget
{
    Q_OBJECT

public:
    // Entries of the language list.
    enum Language { Chinese, English };

    explicit SettingPage(QWidget *parent = nullptr);
    ~SettingPage() override;

    // Takes over the translator installed at start-up (may be null), so the
    // first language choice can remove it: the chosen catalogue alone applies.
    void adoptTranslator(QTranslator *startup);

signals:
    // The console line, as typed, for the upgrade page to send to the device.
    void sendTextToDevice(const QString &text);

public slots:
    // Appends "[hh:mm:ss] message" to the log view and scrolls to it; a message
    // that repeats the previous one updates its line to "[hh:mm:ss] message ×N".
    void handleLogMessage(const QString &message);

protected:
    void changeEvent(QEvent *event) override;
    void showEvent(QShowEvent *event) override;

private slots:
    void on_btnLog_clicked();
    void on_cmbLanguageList_activated(int index);
    void on_SerialSendBtn_clicked();

private:
    void pageInit();

    std::unique_ptr<Ui::SettingPage> ui;
    std::unique_ptr<QSettings> setting;
    QTranslator m_translator; // the chosen catalogue, installed while a choice is in force
    std::unique_ptr<QTranslator> m_startupTranslator;

    // The newest message of the log view, how many times in a row it came, and
    // its line as last written.
    struct LogRun
    {
        QString message;
        int count = 0;
        QString line;
    };
    LogRun m_logRun;
};

#endif // SETTINGPAGE_H
