/* The C contract between the archive component and every archiver library.
 *
 * A library exports one function family: the command entry is named by the library's
 * prefix alone ("Unlha"), every other entry by the prefix followed by a fixed suffix
 * ("UnlhaOpenArchive"). Strings are NUL-terminated in the host code page. Records are
 * packed so that their layout is the same for every compiler that builds either side.
 */
#ifndef ZEMBRAT_ARCHIVER_API_H
#define ZEMBRAT_ARCHIVER_API_H

#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

/* Owner window (0 = none) and archive handle (0 = not opened). */
typedef uintptr_t ARC_HWND;
typedef uintptr_t HARC;

/* Longest name a record carries, without its terminating NUL. */
#define ARC_NAME_MAX 512

/* Name of the registered window message a library sends to its owner window while it
 * works: word parameter = one of the ARC_PROGRESS_* states, long parameter = a pointer to
 * an EXTRACTINGINFOEX. The answer 1 asks the library to stop. */
#define ARC_EXTRACT_MESSAGE_NAME "wm_arcextract"

enum {
    ARC_PROGRESS_BEGIN = 0,     /* a member is about to be processed */
    ARC_PROGRESS_UPDATE = 1,    /* bytes of the current member were processed */
    ARC_PROGRESS_END = 2,       /* the current member is done */
    ARC_PROGRESS_SELECT = 0x805 /* the component's file filter selected a file */
};

#pragma pack(push, 1)

/* One member of a listing, as FindFirst / FindNext fill it (558 bytes). */
typedef struct ARCHIVE_ENTRY_RECORD {
    uint32_t original_size;           /*   0 */
    uint32_t compressed_size;         /*   4 */
    uint32_t crc;                     /*   8 */
    uint32_t flag;                    /*  12 */
    uint32_t os_type;                 /*  16 */
    uint16_t ratio;                   /*  20: per mille */
    uint16_t dos_date;                /*  22 */
    uint16_t dos_time;                /*  24 */
    char file_name[ARC_NAME_MAX + 1]; /*  26 */
    char pad1[3];                     /* 539 */
    char attribute[8];                /* 542 */
    char method[8];                   /* 550 */
} ARCHIVE_ENTRY_RECORD;

/* Progress record sent with the "wm_arcextract" message (1074 bytes). */
typedef struct EXTRACTINGINFOEX {
    uint32_t file_size;                      /*    0 */
    uint32_t write_size;                     /*    4 */
    char source_file_name[ARC_NAME_MAX + 1]; /*    8 */
    char pad1[3];                            /*  521 */
    char dest_file_name[ARC_NAME_MAX + 1];   /*  524 */
    char pad2[3];                            /* 1037 */
    uint32_t compressed_size;                /* 1040 */
    uint32_t crc;                            /* 1044 */
    uint32_t os_type;                        /* 1048 */
    uint16_t ratio;                          /* 1052 */
    uint16_t dos_date;                       /* 1054 */
    uint16_t dos_time;                       /* 1056 */
    char attribute[8];                       /* 1058 */
    char method[8];                          /* 1066 */
} EXTRACTINGINFOEX;
typedef EXTRACTINGINFOEX* LPEXTRACTINGINFOEX;

#pragma pack(pop)

/* Result codes. 0 is success; every failure is one of these, and the library writes a
 * one-line reason into the output buffer. */
enum {
    ARC_OK = 0,
    ARC_WARNING_SKIPPED = 0x8001,      /* some members or files were left alone (kept) */
    ARC_ERROR_BAD_COMMAND = 0x8002,    /* unknown command or switch, malformed line */
    ARC_ERROR_NOT_ARCHIVE = 0x8003,    /* the file holds no archive of this kind */
    ARC_ERROR_BROKEN_ARCHIVE = 0x8004, /* damaged or truncated headers or data */
    ARC_ERROR_CRC = 0x8005,            /* a member failed its CRC check */
    ARC_ERROR_UNKNOWN_METHOD = 0x8006, /* a member uses a method this library cannot decode */
    ARC_ERROR_CANNOT_READ = 0x8007,    /* an input file or the archive cannot be read */
    ARC_ERROR_CANNOT_WRITE = 0x8008,   /* an output cannot be created or written */
    ARC_ERROR_UNSAFE_PATH = 0x8009,    /* a member would be written outside the destination */
    ARC_ERROR_NO_FILES = 0x800A,       /* nothing matched the names given */
    ARC_ERROR_TOO_LARGE = 0x800B,      /* a name or header its header level cannot carry */
    ARC_ERROR_NOT_REGULAR = 0x800C,    /* a name that is no regular file or folder */
    ARC_ERROR_BUFFER_TOO_SMALL = 0x800D,
    ARC_ERROR_NO_MEMORY = 0x800E,
    ARC_ERROR_ABORTED = 0x8020, /* stopped through the progress answer */
    ARC_ERROR_INTERNAL = 0x80FF
};

/* CheckArchive modes: the depth (the bits of ARC_CHECK_DEPTH_MASK), with flags added to it.
   Bits outside the mask other than ARC_CHECK_EMBEDDED (4, 8, ...) are accepted without effect:
   the ZIP probe's 24 is a quick check of a possibly embedded archive, never a full one. */
enum {
    ARC_CHECK_QUICK = 0,    /* the first header is sound */
    ARC_CHECK_HEADERS = 1,  /* every header is sound */
    ARC_CHECK_FULL = 3,     /* every member decodes with a correct CRC */
    ARC_CHECK_EMBEDDED = 16 /* also look for an archive inside a self-extracting program */
};

#define ARC_CHECK_DEPTH_MASK 0x03

/* OpenArchive mode flag: also look for an archive inside a self-extracting program. */
#define ARC_OPEN_EMBEDDED 0x00800000u

/* Progress procedure given to SetOwnerWindowEx; the component always passes null. */
typedef int (*ARC_PROGRESS_PROC)(ARC_HWND window, unsigned message, unsigned state,
                                 LPEXTRACTINGINFOEX record);

/* The function family; a library named with prefix P exports P, POpenArchive, ... */
typedef int (*ARC_COMMAND)(ARC_HWND window, const char* command_line, char* output,
                           uint32_t output_size);
typedef HARC (*ARC_OPEN_ARCHIVE)(ARC_HWND window, const char* archive, uint32_t mode);
typedef int (*ARC_CLOSE_ARCHIVE)(HARC archive);
typedef int (*ARC_FIND_FIRST)(HARC archive, const char* wildcard, ARCHIVE_ENTRY_RECORD* entry);
typedef int (*ARC_FIND_NEXT)(HARC archive, ARCHIVE_ENTRY_RECORD* entry);
typedef int (*ARC_CHECK_ARCHIVE)(const char* archive, int mode);
typedef int (*ARC_SET_OWNER_WINDOW_EX)(ARC_HWND window, ARC_PROGRESS_PROC procedure);
typedef int (*ARC_KILL_OWNER_WINDOW_EX)(ARC_HWND window);
typedef int (*ARC_EXTRACT_MEM)(ARC_HWND window, const char* command_line, unsigned char* buffer,
                               uint32_t buffer_size, int64_t* time_stamp, uint16_t* attributes,
                               uint32_t* written);
/* File times are 100 ns units since 1601-01-01 UTC. */
typedef int (*ARC_GET_TIME_EX)(HARC archive, uint64_t* file_time);
/* A size the library cannot tell (a lone compressed stream whose wrapper does not give it for
 * certain) is ARC_SIZE_UNKNOWN; the record's 32-bit sizes are 0xFFFFFFFF then. */
typedef int (*ARC_GET_SIZE_EX)(HARC archive, uint64_t* size);
#define ARC_SIZE_UNKNOWN UINT64_MAX
typedef int (*ARC_GET_ARCHIVE_TYPE)(const char* archive);

#ifdef __cplusplus
} /* extern "C" */

#include <cstddef>
static_assert(sizeof(ARCHIVE_ENTRY_RECORD) == 558);
static_assert(offsetof(ARCHIVE_ENTRY_RECORD, original_size) == 0);
static_assert(offsetof(ARCHIVE_ENTRY_RECORD, compressed_size) == 4);
static_assert(offsetof(ARCHIVE_ENTRY_RECORD, crc) == 8);
static_assert(offsetof(ARCHIVE_ENTRY_RECORD, flag) == 12);
static_assert(offsetof(ARCHIVE_ENTRY_RECORD, os_type) == 16);
static_assert(offsetof(ARCHIVE_ENTRY_RECORD, ratio) == 20);
static_assert(offsetof(ARCHIVE_ENTRY_RECORD, dos_date) == 22);
static_assert(offsetof(ARCHIVE_ENTRY_RECORD, dos_time) == 24);
static_assert(offsetof(ARCHIVE_ENTRY_RECORD, file_name) == 26);
static_assert(offsetof(ARCHIVE_ENTRY_RECORD, attribute) == 542);
static_assert(offsetof(ARCHIVE_ENTRY_RECORD, method) == 550);
static_assert(sizeof(EXTRACTINGINFOEX) == 1074);
static_assert(offsetof(EXTRACTINGINFOEX, write_size) == 4);
static_assert(offsetof(EXTRACTINGINFOEX, source_file_name) == 8);
static_assert(offsetof(EXTRACTINGINFOEX, dest_file_name) == 524);
static_assert(offsetof(EXTRACTINGINFOEX, compressed_size) == 1040);
static_assert(offsetof(EXTRACTINGINFOEX, crc) == 1044);
static_assert(offsetof(EXTRACTINGINFOEX, os_type) == 1048);
static_assert(offsetof(EXTRACTINGINFOEX, ratio) == 1052);
static_assert(offsetof(EXTRACTINGINFOEX, dos_date) == 1054);
static_assert(offsetof(EXTRACTINGINFOEX, dos_time) == 1056);
static_assert(offsetof(EXTRACTINGINFOEX, attribute) == 1058);
static_assert(offsetof(EXTRACTINGINFOEX, method) == 1066);
#endif

#endif /* ZEMBRAT_ARCHIVER_API_H */
