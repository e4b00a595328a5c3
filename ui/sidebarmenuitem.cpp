#include "sidebarmenuitem.h"

#include "logging.h"
#include "ui_sidebarmenuitem.h"

const QString SideBarMenuItem::UnselectedStyle = QStringLiteral(
    "QWidget {border:none;}QToolButton { color:white;}"
    "QWidget:hover{ background-color: rgb(123,134,140);}");
const QString SideBarMenuItem::SelectedStyle = QStringLiteral(
    "QToolButton { color:white;}QWidget {border-style:solid;border-width:2px;border-color: white;"
    "border-left:none; border-top:none;border-bottom:none;background-color: rgb(123,134,140);}");

// The entry's texts are set by the side bar, which also retranslates them, so
// the form's own default text is never retranslated here.
SideBarMenuItem::SideBarMenuItem(QWidget *parent)
    : QWidget(parent)
    , ui(new Ui::SideBarMenuItem)
{
    setAttribute(Qt::WA_StyledBackground);
    ui->setupUi(this);
    setStyleSheet(UnselectedStyle);
    connect(ui->toolButton, &QToolButton::clicked, this, [this] {
        setFocus();
        emit sigMenuClicked();
    });
}

SideBarMenuItem::~SideBarMenuItem() = default;

void SideBarMenuItem::setSelected(bool bSelected)
{
    LOG_INFO << "bSelected" << bSelected;
    setStyleSheet(bSelected ? SelectedStyle : UnselectedStyle);
    QFont font = buttonFont(bSelected ? SelectedPointSize : NormalPointSize);
    font.setBold(bSelected);
    ui->toolButton->setFont(font);
}

void SideBarMenuItem::setText(const QString &text)
{
    ui->toolButton->setText(text);
    ui->toolButton->setFont(buttonFont(NormalPointSize));
}

QString SideBarMenuItem::text() const
{
    return ui->toolButton->text();
}

void SideBarMenuItem::setIcon(const QString &path)
{
    ui->toolButton->setIcon(QIcon(path));
}

QFont SideBarMenuItem::buttonFont(int pointSize) const
{
    QFont font = ui->toolButton->font();
    font.setPointSize(pointSize);
    return font;
}
