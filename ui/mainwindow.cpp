#include "mainwindow.h"

#include "usbvirtualserial.h"

MainWindow::MainWindow(SharedPortLister ports, QWidget *parent)
    : QMainWindow(parent)
    , m_usbVirtualSerial(new UsbVirtualSerial(std::move(ports)))
{
    setObjectName(QStringLiteral("MainWindow"));
    resize(InitialWidth, InitialHeight);
}

MainWindow::~MainWindow() = default;
