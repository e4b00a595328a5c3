#ifndef IMAGEPLAN_H
#define IMAGEPLAN_H

#include <QString>

// What the step machine needs to know about the one file it sends: a single
// image, or part i of n of a package. Made once, when the file's turn comes.
struct ImagePlan
{
    enum class Kind { SingleImage, PackagePart };
    static constexpr int NoBar = -1; // the bar is left as it is

    Kind kind = Kind::SingleImage;
    QString path;          // the file on this computer
    QString announcedName; // the name the device stores it under
    int saveAs = 1;        // the announcement's saveAsFile: 1, or the part's image type
    int dataImageType = 0; // data frames of the sensor type wait longer for their acknowledgements
    bool reboots = true;   // the device reboots into its upgrade state before this file
    int part = 0;
    int partCount = 1;
    int barAfterReboot = NoBar;
    int barAtFileEnd = NoBar;    // shown before the device's verdict is waited for
    int barWhenAccepted = NoBar; // shown once the device has taken the file

    bool isPart() const { return kind == Kind::PackagePart; }
    bool lastPart() const { return part + 1 == partCount; }
    // The bar's position with `filePercent` of this file sent.
    double transferBar(double filePercent) const;

    static ImagePlan singleImage(const QString &path);
    static ImagePlan packagePart(const QString &path, int part, int partCount);
    // The name of the file at `path`: what the page checks and shows, and
    // what the device is told.
    static QString fileNameOf(const QString &path);
};

#endif // IMAGEPLAN_H
