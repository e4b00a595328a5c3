#include "mainwindow.h"

#include "logging.h"
#include "settingpage.h"
#include "sidebar.h"
#include "ui_mainwindow.h"
#include "upgradepage.h"
#include "usbvirtualserial.h"

#include <QCloseEvent>
#include <QHBoxLayout>
#include <QLabel>
#include <QMouseEvent>
#include <QPushButton>
#include <QStackedLayout>

namespace {
const char TitleText[] = "Tavio PC Tool"; // the product name is not translated
const QMargins TitleBarMargins(20, 6, 6, 6);
const QMargins TitleLayoutMargins(5, 0, 5, 0);
constexpr int TitleFontPointSize = 13;
constexpr int MaximizeGlyphPointSize = 10; // "□" looks oversized at the title size
constexpr int TitleButtonWidth = 30;
const char TitleButtonStyle[] = "QPushButton { border: none; color: white }QPushButton:hover {color:black;}";
} // namespace

MainWindow::MainWindow(SharedPortLister ports, QWidget *parent)
    : QMainWindow(parent)
    , ui(new Ui::MainWindow)
{
    ui->setupUi(this);
    // The task bar and the window list show it, as the title bar does.
    setWindowTitle(QString::fromLatin1(TitleText));
    setWindowFlags(Qt::FramelessWindowHint);
    initTitleBar();
    initMenuAndPages(std::move(ports));
}

// The pages use the link, so they go before it.
MainWindow::~MainWindow()
{
    delete m_upgradePage;
    delete m_settingPage;
}

void MainWindow::adoptStartupTranslator(QTranslator *translator)
{
    m_settingPage->adoptTranslator(translator);
}

int MainWindow::currentPageIndex() const
{
    return rightLayout->currentIndex();
}

void MainWindow::initTitleBar()
{
    titleBar = new QWidget(this);
    titleBar->resize(width(), TitleBarHeight);
    titleBar->setFixedHeight(TitleBarHeight);
    titleBar->setContentsMargins(TitleBarMargins);
    titleBar->setStyleSheet(QStringLiteral("background-color: #2c3e50;"));

    QFont font;
    font.setPointSize(TitleFontPointSize);
    LOG_INFO << "font.setPointSize";
    font.setBold(true);

    auto *layout = new QHBoxLayout(titleBar);
    layout->setContentsMargins(TitleLayoutMargins);

    auto *title = new QLabel(QString::fromLatin1(TitleText), titleBar);
    title->setObjectName(QStringLiteral("titleLabel"));
    title->setStyleSheet(QStringLiteral("QLabel {color: white;}"));
    title->setFont(font);

    const auto makeButton = [&](const QString &text, const QString &name) {
        auto *button = new QPushButton(text, titleBar);
        button->setObjectName(name);
        button->setFixedWidth(TitleButtonWidth);
        button->setStyleSheet(QString::fromLatin1(TitleButtonStyle));
        button->setFont(font);
        return button;
    };
    QPushButton *minimize = makeButton(QStringLiteral("-"), QStringLiteral("btnMinimize"));
    QPushButton *maximize = makeButton(QStringLiteral("\u25A1"), QStringLiteral("btnMaximize"));
    QPushButton *close = makeButton(QStringLiteral("\u00D7"), QStringLiteral("btnClose"));
    font.setPointSize(MaximizeGlyphPointSize);
    maximize->setFont(font);

    connect(minimize, &QPushButton::clicked, this, &MainWindow::showMinimized);
    connect(close, &QPushButton::clicked, this, &MainWindow::close);
    connect(maximize, &QPushButton::clicked, this, &MainWindow::toggleMaximized);

    layout->addWidget(title);
    layout->addStretch();
    layout->addWidget(minimize);
    layout->addWidget(maximize);
    layout->addWidget(close);
    ui->mainLayout->addWidget(titleBar);
}

void MainWindow::initMenuAndPages(SharedPortLister ports)
{
    auto *row = new QHBoxLayout;
    auto *leftColumn = new QVBoxLayout;
    auto *sideBar = new SideBar(this);
    leftColumn->addWidget(sideBar);
    connect(sideBar, &SideBar::sigMenuClicked, this, &MainWindow::slotOnMenuClicked);
    row->addLayout(leftColumn);
    ui->mainLayout->addLayout(row);

    rightLayout = new QStackedLayout;
    m_usbVirtualSerial = std::make_unique<UsbVirtualSerial>(std::move(ports));
    m_settingPage = new SettingPage(this);
    m_upgradePage = new UpgradePage(this, m_usbVirtualSerial.get(), m_settingPage);
    rightLayout->insertWidget(UpgradePageIndex, m_upgradePage);
    rightLayout->insertWidget(SettingPageIndex, m_settingPage);
    row->addLayout(rightLayout);
}

void MainWindow::slotOnMenuClicked(int index)
{
    rightLayout->setCurrentIndex(index);
    LOG_INFO << "setCurrentIndex" << rightLayout->currentIndex();
}

void MainWindow::closeEvent(QCloseEvent *event)
{
    if (m_upgradePage->mayClose())
        event->accept();
    else
        event->ignore();
}

bool MainWindow::isInTitleBar(const QPoint &windowPos) const
{
    return QRect(titleBar->mapTo(this, QPoint(0, 0)), titleBar->size()).contains(windowPos);
}

void MainWindow::toggleMaximized()
{
    if (isMaximized())
        showNormal();
    else
        showMaximized();
}

void MainWindow::mousePressEvent(QMouseEvent *event)
{
    if (event->button() != Qt::LeftButton || !isInTitleBar(event->pos())) {
        QMainWindow::mousePressEvent(event);
        return;
    }
    bWindowMoved = true;
    m_dragPosition = event->globalPos() - frameGeometry().topLeft();
    event->accept();
}

// A drag offset of (0, 0) counts as no drag: a press on the very corner pixel
// does not move the window.
void MainWindow::mouseMoveEvent(QMouseEvent *event)
{
    if ((event->buttons() & Qt::LeftButton) && !m_dragPosition.isNull() && bWindowMoved) {
        move(event->globalPos() - m_dragPosition);
        event->accept();
        return;
    }
    QMainWindow::mouseMoveEvent(event);
}

void MainWindow::mouseReleaseEvent(QMouseEvent *event)
{
    bWindowMoved = false;
    QMainWindow::mouseReleaseEvent(event);
}

void MainWindow::mouseDoubleClickEvent(QMouseEvent *event)
{
    if (event->button() != Qt::LeftButton || !isInTitleBar(event->pos())) {
        QMainWindow::mouseDoubleClickEvent(event);
        return;
    }
    toggleMaximized();
    event->accept();
}
