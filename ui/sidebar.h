#ifndef SIDEBAR_H
#define SIDEBAR_H

#include <QList>
#include <QWidget>
#include <memory>

class QLabel;
class SideBarMenuItem;

namespace Ui {
class SideBar;
}

// The navigation column on the left of the main window: one entry per page
// (entry index = page index) and the program version at the bottom.
class SideBar : public QWidget
{
    Q_OBJECT

public:
    static constexpr int FixedWidth = 180;
    static constexpr int EntryHeight = 40;
    static constexpr int VersionGap = 30; // below the version label
    static constexpr int VersionPixelSize = 13;

    explicit SideBar(QWidget *parent = nullptr);
    ~SideBar() override;

    SideBarMenuItem *menuItem(int index) const { return menuList.at(index); }

signals:
    // Entry `index` was clicked (also when it is already selected).
    void sigMenuClicked(int index);

protected:
    void showEvent(QShowEvent *event) override;
    void changeEvent(QEvent *event) override;

private:
    void initSideBarMenu();
    void initStrings();
    void setSoftVersion();
    void placeVersionLabel();
    void onMenuClicked(int index);

    std::unique_ptr<Ui::SideBar> ui;
    QList<SideBarMenuItem *> menuList;
    int preMenuIdx = 0;
    int curMenuIdx = 0;
    QLabel *versionlabel = nullptr;
};

#endif // SIDEBAR_H
