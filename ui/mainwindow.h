#ifndef MAINWINDOW_H
#define MAINWINDOW_H

#include <QMainWindow>

// The program's only top-level window.
class MainWindow : public QMainWindow
{
    Q_OBJECT

public:
    static constexpr int InitialWidth = 1100;
    static constexpr int InitialHeight = 720;

    explicit MainWindow(QWidget *parent = nullptr);
};

#endif // MAINWINDOW_H
