#ifndef MAINWINDOW_H
#define MAINWINDOW_H

#include "serialportlister.h"

#include <QMainWindow>
#include <memory>

class QStackedLayout;
class QTranslator;
class SettingPage;
class SideBar;
class UpgradePage;
class UsbVirtualSerial;

namespace Ui {
class MainWindow;
}

// The program's only top-level window: a frameless window with its own title
// bar (drag handle, double-click to maximise), the side bar and the page stack.
class MainWindow : public QMainWindow
{
    Q_OBJECT

public:
    static constexpr int TitleBarHeight = 40;

    enum Page { UpgradePageIndex, SettingPageIndex };

    explicit MainWindow(SharedPortLister ports, QWidget *parent = nullptr);
    ~MainWindow() override;

    // Takes over the translator installed at start-up (may be null); the first
    // language choice on the settings page removes and deletes it.
    void adoptStartupTranslator(QTranslator *translator);

    int currentPageIndex() const;

public slots:
    // Shows page `index` of the stack (see Page).
    void slotOnMenuClicked(int index);

protected:
    // During an upgrade the user is asked first, as Disconnect asks.
    void closeEvent(QCloseEvent *event) override;
    void mousePressEvent(QMouseEvent *event) override;
    void mouseReleaseEvent(QMouseEvent *event) override;
    void mouseDoubleClickEvent(QMouseEvent *event) override;
    void mouseMoveEvent(QMouseEvent *event) override;

private:
    void initTitleBar();
    void initMenuAndPages(SharedPortLister ports);
    bool isInTitleBar(const QPoint &windowPos) const;
    void toggleMaximized();

    std::unique_ptr<Ui::MainWindow> ui;
    QPoint m_dragPosition; // mouse offset from the frame's top-left corner
    bool bWindowMoved = false;
    QStackedLayout *rightLayout = nullptr;
    QWidget *titleBar = nullptr;
    // Outlives the pages, which use it: they are deleted first in the destructor.
    std::unique_ptr<UsbVirtualSerial> m_usbVirtualSerial;
    SettingPage *m_settingPage = nullptr;
    UpgradePage *m_upgradePage = nullptr;
};

#endif // MAINWINDOW_H
