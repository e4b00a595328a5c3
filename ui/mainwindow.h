#ifndef MAINWINDOW_H
#define MAINWINDOW_H

#include "serialportlister.h"

#include <QMainWindow>
#include <memory>

class UsbVirtualSerial;

// The program's only top-level window.
class MainWindow : public QMainWindow
{
    Q_OBJECT

public:
    static constexpr int InitialWidth = 1100;
    static constexpr int InitialHeight = 720;

    explicit MainWindow(SharedPortLister ports, QWidget *parent = nullptr);
    ~MainWindow() override;

private:
    std::unique_ptr<UsbVirtualSerial> m_usbVirtualSerial;
};

#endif // MAINWINDOW_H
