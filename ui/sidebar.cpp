#include "sidebar.h"

#include "logging.h"
#include "sidebarmenuitem.h"
#include "ui_sidebar.h"

#include <QLabel>

namespace {
enum MenuEntry { UpgradeEntry, SettingEntry, EntryCount };
const char UpgradeIcon[] = ":res/upg.png";
} // namespace

SideBar::SideBar(QWidget *parent)
    : QWidget(parent)
    , ui(new Ui::SideBar)
{
    ui->setupUi(this);
    setAttribute(Qt::WA_StyledBackground);
    setFixedWidth(FixedWidth);
    initSideBarMenu();
}

SideBar::~SideBar() = default;

void SideBar::initSideBarMenu()
{
    auto *upgradeItem = new SideBarMenuItem(this);
    upgradeItem->setIcon(QString::fromLatin1(UpgradeIcon));
    // The settings entry keeps the form's default icon.
    auto *settingItem = new SideBarMenuItem(this);
    versionlabel = new QLabel(this);
    versionlabel->setObjectName(QStringLiteral("versionlabel"));

    menuList << upgradeItem << settingItem;
    for (int i = 0; i < menuList.size(); ++i) {
        SideBarMenuItem *item = menuList.at(i);
        item->setFixedHeight(EntryHeight);
        ui->mainLayout->addWidget(item);
        connect(item, &SideBarMenuItem::sigMenuClicked, this, [this, i] { onMenuClicked(i); });
    }
    initStrings();
    ui->mainLayout->addStretch();
    placeVersionLabel();
}

void SideBar::initStrings()
{
    if (menuList.size() != EntryCount)
        return;
    menuList.at(UpgradeEntry)->setText(tr("升级固件"));
    menuList.at(SettingEntry)->setText(tr("设置"));
}

void SideBar::setSoftVersion()
{
    versionlabel->setText(tr("版本号：V1.1.6"));
}

void SideBar::placeVersionLabel()
{
    setSoftVersion();
    versionlabel->setStyleSheet(
        QStringLiteral("font-family: 'OPPOSans R'; font-size: %1px; color: white;").arg(VersionPixelSize));
    versionlabel->setAlignment(Qt::AlignCenter);
    ui->mainLayout->addWidget(versionlabel, 0, Qt::AlignBottom);
    ui->mainLayout->addSpacerItem(new QSpacerItem(0, VersionGap, QSizePolicy::Minimum, QSizePolicy::Fixed));
}

// The page switch (through the signal) happens before the highlight moves.
void SideBar::onMenuClicked(int index)
{
    LOG_INFO << "sigMenuClicked i:" << index;
    emit sigMenuClicked(index);
    curMenuIdx = index;
    if (curMenuIdx != preMenuIdx)
        menuList.at(preMenuIdx)->setSelected(false);
    menuList.at(curMenuIdx)->setSelected(true);
    preMenuIdx = curMenuIdx;
}

// Highlights the current entry when the window first appears.
void SideBar::showEvent(QShowEvent *event)
{
    LOG_INFO << "Sidebar Language change, evt->type():";
    menuList.at(curMenuIdx)->setSelected(true);
    QWidget::showEvent(event);
}

void SideBar::changeEvent(QEvent *event)
{
    if (event->type() == QEvent::LanguageChange) {
        LOG_INFO << "Sidebar Language change";
        initStrings();
        setSoftVersion();
        ui->retranslateUi(this);
    }
    QWidget::changeEvent(event);
}
