#ifndef SIDEBARMENUITEM_H
#define SIDEBARMENUITEM_H

#include <QWidget>
#include <memory>

namespace Ui {
class SideBarMenuItem;
}

// One navigation entry of the side bar: an icon and a text on a tool button.
class SideBarMenuItem : public QWidget
{
    Q_OBJECT

public:
    static const QString UnselectedStyle;
    static const QString SelectedStyle;
    static constexpr int SelectedPointSize = 10;
    static constexpr int NormalPointSize = 9;

    explicit SideBarMenuItem(QWidget *parent = nullptr);
    ~SideBarMenuItem() override;

    // Highlights the entry (bar on the right edge, bold text) or clears it.
    void setSelected(bool bSelected);
    void setText(const QString &text);
    QString text() const;
    void setIcon(const QString &path);

signals:
    void sigMenuClicked();

private:
    // The button's current font at another size.
    QFont buttonFont(int pointSize) const;

    std::unique_ptr<Ui::SideBarMenuItem> ui;
};

#endif // SIDEBARMENUITEM_H
