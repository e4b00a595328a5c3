#ifndef FLASHEXIT_H
#define FLASHEXIT_H

// The command's exit codes. With several devices the command exits with the
// highest code of any device.
namespace FlashExit {
enum Code {
    Success = 0,       // every device upgraded
    Usage = 1,         // the command line is wrong
    FileRefused = 2,   // the rules refused the file or it cannot be read: nothing sent
    NoDevice = 3,      // no device found, or its port cannot be opened
    DeviceRefused = 4, // the device refused the file or reported a numbered failure, or the
                       // file changed during the upgrade: no end of file was sent for it
    LinkFailed = 5,    // no acknowledgement, the device vanished or never came back
    VerifyFailed = 6,  // the restarted device reports another firmware, or does not answer
};
} // namespace FlashExit

#endif // FLASHEXIT_H
