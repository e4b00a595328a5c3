#ifndef ARNETTYPE_H
#define ARNETTYPE_H

// Wire types of the device protocol. Every record is a byte-for-byte image of
// what travels on the serial line (little-endian, natural alignment), so the
// layouts below must never change; the static_asserts at the end pin them.

#include <cstddef>
#include <cstdint>

static const uint32_t AR_PROTOCOL_MAGIC = 0x4152544F;   // "OTRA" on the wire
static const uint16_t AR_PROTOCOL_VERSION = 0x0CDC;
static const uint16_t AR_PROTOCOL_MSGID = 0xABCD;

typedef struct ar_protocol_t {
    uint32_t magic;
    uint16_t version;
    uint16_t type;
    uint16_t msgid;
    uint16_t unused;
    uint32_t command;
    uint16_t format;
    uint16_t userid;
    uint32_t length;
    uint32_t seq;
    uint32_t retry;
    uint32_t crc32;
} ar_protocol_t;

typedef enum AR_MSGTYPE {
    AR_MSGTYPE_REQUEST = 1,
    AR_MSGTYPE_ACK = 2,
    AR_MSGTYPE_NON = 3,
} AR_MSGTYPE;

typedef enum AR_FMT {
    AR_FMT_JSON = 1,
    AR_FMT_BINARY = 2,
    AR_FMT_UNKNOW = 3,
} AR_FMT;

typedef enum AR_CMD : uint32_t {
    AR_CMD_LOGIN = 1,
    AR_CMD_LOGOUT = 2,
    AR_COMMAND_GET_ACTIVE = 3,          // used as the reboot request and reply
    AR_COMMAND_SET_ACTIVE = 4,
    AR_COMMAND_GET_SECURITY = 5,
    AR_COMMAND_SET_SECURITY = 6,
    AR_COMMAND_GET_IPCONFIG = 10,
    AR_COMMAND_SET_IPCONFIG = 11,
    AR_COMMAND_GET_VERSION = 12,
    AR_COMMAND_GET_NTPPARAM = 13,
    AR_COMMAND_SET_NTPPARAM = 14,
    AR_COMMAND_GET_WIFICONF = 17,
    AR_COMMAND_SET_WIFICONF = 18,
    AR_COMMAND_GET_BOX_VCODEC = 55,
    AR_COMMAND_FIND_DEVICE = 60,
    AR_CMD_SET_FACE_SERVICE = 100,
    AR_CMD_GET_FACE_SERVICE = 101,
    AR_CMD_FACE_SERVER_STATUS = 102,
    AR_CMD_RESET_FACE_DATABASE = 103,
    AR_CMD_ADD_PERSON = 104,
    AR_CMD_MODIFY_PERSON = 105,
    AR_CMD_REMOVE_PERSON = 106,
    AR_CMD_QUERY_PERSON = 107,
    AR_CMD_RECOGNIZE_FACE = 108,
    AR_CMD_DETECT_FACE = 109,
    AR_CMD_SUBSCRIBE_EVENT = 110,
    AR_CMD_UNSUBSCRIBE_EVENT = 111,
    AR_CMD_NOTIFICATION_EVENT = 112,
    AR_CMD_DEVICE_DISCOVERY = 113,
    AR_CMD_REMOTE_UPGRADE = 114,
    AR_CMD_SENDFILE_START = 115,
    AR_CMD_SENDFILE_DATA = 116,
    AR_CMD_SENDFILE_END = 117,
    AR_CMD_UPGRADE_STATUS = 118,
    AR_COMMAND_SEND_TEXT = 119,
    AR_COMMAND_GET_ISP = 120,
    AR_COMMAND_SET_ISP = 121,
    AR_COMMAND_GET_OSD = 122,
    AR_COMMAND_SET_OSD = 123,
    AR_COMMAND_GET_TIME = 124,
    AR_COMMAND_SET_TIME = 125,
    AR_CMD_WRITECHIPID = 126,
    AR_CMD_READCHIPID = 127,
    AR_CMD_GET_DEVINFO = 128,
    AR_CMD_WRITE_SIGNATURE = 129,
    AR_CMD_WRITE_MAC = 130,
    AR_CMD_WRITE_PID = 131,
    AR_CMD_WRITE_SN = 132,
    AR_CMD_SET_WEB_LOGO = 136,
    AR_CMD_GET_HTTP = 203,
    AR_CMD_SET_HTTP = 204,
    AR_CMD_UPLOAD_FILE = 205,
    AR_CMD_GET_DST = 206,
    AR_CMD_SET_DST = 207,
    AR_CMD_SET_BREAKPOINT_UPLOAD = 328,
    AR_CMD_ACK = 1000,
} AR_CMD;

// The board types double as the USB vendor identifiers of the devices.
typedef enum AR_FPV_BOARD_TYPE_t {
    AR_FPV_BOARD_TYPE_L_GND401_OLD = 7531,
    AR_FPV_BOARD_TYPE_L_SKY402 = 7532,
    AR_FPV_BOARD_TYPE_H_SKY482 = 7533,
    AR_FPV_BOARD_TYPE_L_GND401_NEW = 7534,
    AR_FPV_BOARD_TYPE_GT_GND = 7535,
    AR_FPV_BOARD_TYPE_GT_SKY = 7536,
    AR_FPV_BOARD_TYPE_GND_EX1 = 7537,
    AR_FPV_BOARD_TYPE_SKY_EX2 = 7538,
    AR_FPV_BOARD_TYPE_GND_EX3 = 7539,
    AR_FPV_BOARD_TYPE_SKY_EX4 = 7540,
    AR_FPV_BOARD_TYPE_GND_EX5 = 7541,
    AR_FPV_BOARD_TYPE_SKY_EX6 = 7542,
    AR_FPV_BOARD_TYPE_INVAILD = 7543,
} AR_FPV_BOARD_TYPE_t;

typedef struct ar_device_info {
    int32_t receiveMaxSize;
    char sdkversion[32];
    char devicename[64];
    int32_t cputemp;
    char firmwareInfo[64];
    char serialNumber[32];
    char hardwareVersion[32];
    int32_t status;
    char detail[64];
} ar_device_info;

typedef struct ar_upgrade_status {
    int32_t percent;
    int32_t status;
    char detail[64];
} ar_upgrade_status;

typedef struct ar_receive_date_info {
    int32_t length;
    int32_t cursize;
    int32_t totalsize;
    int32_t status;
    char detail[64];
} ar_receive_date_info;

typedef struct ar_ack_info {
    int32_t status;
    char detail[64];
} ar_ack_info;

typedef struct ar_file_info {
    char MD5[64];
    int32_t length;
    int32_t saveAsFile;
    char filePath[128];
    char fileDir[128];
} ar_file_info;

typedef struct ar_device_reboot {
    char mode[32];
} ar_device_reboot;

typedef struct FPV_UPGRADE_SENDER_TEXT_t {
    int32_t magic;
    char type;
    char length;
    char date[20];
} FPV_UPGRADE_SENDER_TEXT_t;

// Upgrade status and error codes reported by the device in ar_upgrade_status.
enum {
    UPGRATE_ERR_FLASH_ERR = -11,
    UPGRATE_ERR_MAX = -10,
    UPGRATE_ERR_IMG_TYPE = -8,
    UPGRATE_ERR_UPGRADE_MODE = -7,
    UPGRATE_ERR_APP_VERSION = -6,
    UPGRATE_ERR_BOARD_TYPE = -5,
    UPGRATE_ERR_BAD_FILE = -4,
    UPGRATE_ERR_NO_FILE = -3,
    UPGRATE_ERR_NO_PC = -2,
    UPGRATE_ERR_NO_SD = -1,
    STAT_VERIFY_IMAGE = 0,
    STAT_START = 1,
    STAT_IN_PROGRESS = 2,
    STAT_DONE = 3,
    STAT_ENTER_CLEAN_SYSTEM = 4,
    STAT_ENTER_CLEAN_SYSTEM_FAILED = 5,
};

// Image types of the sub-images of a multi-image package.
typedef enum IMG_TYPE : int32_t {
    IMG_BOOT = 0,
    IMG_ENV = 1,
    IMG_KERNEL = 2,
    IMG_FACTORY = 3,
    IMG_ROOTFS_16M = 4,
    IMG_USRDATA_32M = 5,
    IMG_TAREL_APP = 6,
    IMG_TAREL_FPGA = 7,
    IMG_TAREL_8333_SENSOR = 8,
    IMG_UNKNOWN = 9,
} IMG_TYPE;

static const uint32_t IMG_PACKAGE_MAGIC = 0x00575341;
static const int IMG_MAX_SUB_IMAGES = 5;

typedef struct IMG_SUB_IMG_INFO_T {
    int8_t s8imgType;
    int8_t s8upgrade;
    int8_t s8dualpart;
    int8_t res[1];
    uint32_t u32flashoffset;
    uint32_t u32subimgoffset;
} IMG_SUB_IMG_INFO_T;

// The header's 64-bit build time sits at offset 120, which is 8-aligned, so
// natural alignment gives exactly the 128-byte package layout.
typedef struct IMG_HEAD_INFO_EX {
    uint32_t u32magic;
    uint32_t u32BoardType;
    uint32_t u32SdkVersion;
    uint32_t u32AppVersion;
    uint32_t u32QaVersion;
    IMG_SUB_IMG_INFO_T subImgInfo[IMG_MAX_SUB_IMAGES];
    int8_t subImgNum;
    int8_t res[39];
    uint64_t u64BuilTime;
} IMG_HEAD_INFO_EX;

#define AR_ASSERT_FIELD(type, field, offset) \
    static_assert(offsetof(type, field) == (offset), #type "." #field " offset")

static_assert(sizeof(ar_protocol_t) == 36, "frame header size");
AR_ASSERT_FIELD(ar_protocol_t, magic, 0);
AR_ASSERT_FIELD(ar_protocol_t, version, 4);
AR_ASSERT_FIELD(ar_protocol_t, type, 6);
AR_ASSERT_FIELD(ar_protocol_t, msgid, 8);
AR_ASSERT_FIELD(ar_protocol_t, unused, 10);
AR_ASSERT_FIELD(ar_protocol_t, command, 12);
AR_ASSERT_FIELD(ar_protocol_t, format, 16);
AR_ASSERT_FIELD(ar_protocol_t, userid, 18);
AR_ASSERT_FIELD(ar_protocol_t, length, 20);
AR_ASSERT_FIELD(ar_protocol_t, seq, 24);
AR_ASSERT_FIELD(ar_protocol_t, retry, 28);
AR_ASSERT_FIELD(ar_protocol_t, crc32, 32);

static_assert(sizeof(AR_CMD) == 4, "command code is a 32-bit word");

static_assert(sizeof(ar_device_info) == 300, "ar_device_info size");
AR_ASSERT_FIELD(ar_device_info, receiveMaxSize, 0);
AR_ASSERT_FIELD(ar_device_info, sdkversion, 4);
AR_ASSERT_FIELD(ar_device_info, devicename, 36);
AR_ASSERT_FIELD(ar_device_info, cputemp, 100);
AR_ASSERT_FIELD(ar_device_info, firmwareInfo, 104);
AR_ASSERT_FIELD(ar_device_info, serialNumber, 168);
AR_ASSERT_FIELD(ar_device_info, hardwareVersion, 200);
AR_ASSERT_FIELD(ar_device_info, status, 232);
AR_ASSERT_FIELD(ar_device_info, detail, 236);

static_assert(sizeof(ar_upgrade_status) == 72, "ar_upgrade_status size");
AR_ASSERT_FIELD(ar_upgrade_status, percent, 0);
AR_ASSERT_FIELD(ar_upgrade_status, status, 4);
AR_ASSERT_FIELD(ar_upgrade_status, detail, 8);

static_assert(sizeof(ar_receive_date_info) == 80, "ar_receive_date_info size");
AR_ASSERT_FIELD(ar_receive_date_info, length, 0);
AR_ASSERT_FIELD(ar_receive_date_info, cursize, 4);
AR_ASSERT_FIELD(ar_receive_date_info, totalsize, 8);
AR_ASSERT_FIELD(ar_receive_date_info, status, 12);
AR_ASSERT_FIELD(ar_receive_date_info, detail, 16);

static_assert(sizeof(ar_ack_info) == 68, "ar_ack_info size");
AR_ASSERT_FIELD(ar_ack_info, status, 0);
AR_ASSERT_FIELD(ar_ack_info, detail, 4);

static_assert(sizeof(ar_file_info) == 328, "ar_file_info size");
AR_ASSERT_FIELD(ar_file_info, MD5, 0);
AR_ASSERT_FIELD(ar_file_info, length, 64);
AR_ASSERT_FIELD(ar_file_info, saveAsFile, 68);
AR_ASSERT_FIELD(ar_file_info, filePath, 72);
AR_ASSERT_FIELD(ar_file_info, fileDir, 200);

static_assert(sizeof(ar_device_reboot) == 32, "ar_device_reboot size");

static_assert(sizeof(FPV_UPGRADE_SENDER_TEXT_t) == 28, "FPV_UPGRADE_SENDER_TEXT_t size");
AR_ASSERT_FIELD(FPV_UPGRADE_SENDER_TEXT_t, magic, 0);
AR_ASSERT_FIELD(FPV_UPGRADE_SENDER_TEXT_t, type, 4);
AR_ASSERT_FIELD(FPV_UPGRADE_SENDER_TEXT_t, length, 5);
AR_ASSERT_FIELD(FPV_UPGRADE_SENDER_TEXT_t, date, 6);

static_assert(sizeof(IMG_TYPE) == 4, "image type is a 4-byte enumeration");
static_assert(sizeof(IMG_SUB_IMG_INFO_T) == 12, "IMG_SUB_IMG_INFO_T size");
AR_ASSERT_FIELD(IMG_SUB_IMG_INFO_T, s8imgType, 0);
AR_ASSERT_FIELD(IMG_SUB_IMG_INFO_T, s8upgrade, 1);
AR_ASSERT_FIELD(IMG_SUB_IMG_INFO_T, s8dualpart, 2);
AR_ASSERT_FIELD(IMG_SUB_IMG_INFO_T, u32flashoffset, 4);
AR_ASSERT_FIELD(IMG_SUB_IMG_INFO_T, u32subimgoffset, 8);

static_assert(sizeof(IMG_HEAD_INFO_EX) == 128, "IMG_HEAD_INFO_EX size");
AR_ASSERT_FIELD(IMG_HEAD_INFO_EX, u32magic, 0);
AR_ASSERT_FIELD(IMG_HEAD_INFO_EX, u32BoardType, 4);
AR_ASSERT_FIELD(IMG_HEAD_INFO_EX, u32SdkVersion, 8);
AR_ASSERT_FIELD(IMG_HEAD_INFO_EX, u32AppVersion, 12);
AR_ASSERT_FIELD(IMG_HEAD_INFO_EX, u32QaVersion, 16);
AR_ASSERT_FIELD(IMG_HEAD_INFO_EX, subImgInfo, 20);
AR_ASSERT_FIELD(IMG_HEAD_INFO_EX, subImgNum, 80);
AR_ASSERT_FIELD(IMG_HEAD_INFO_EX, res, 81);
AR_ASSERT_FIELD(IMG_HEAD_INFO_EX, u64BuilTime, 120);

#undef AR_ASSERT_FIELD

#endif // ARNETTYPE_H
