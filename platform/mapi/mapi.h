#pragma once

/* Simple MAPI as a mail client library offers it: one entry, MAPISendMail, exported by name with
 * C linkage, and the structures it takes. The helper object loads a client's library from the
 * path the client registered and calls that entry; each of our client libraries exports it.
 *
 * Integers keep the widths of the design: ULONG and FLAGS are 32 bits, handles and window
 * parameters are pointer-sized. Text is UTF-8, the system's code page here. Usable from C and
 * C++. */

#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

typedef uint32_t ULONG;
typedef uint32_t FLAGS;
typedef uintptr_t LHANDLE;
typedef uintptr_t ULONG_PTR;

/* One sender or recipient. */
typedef struct MapiRecipDesc {
    ULONG ulReserved;   /* 0 */
    ULONG ulRecipClass; /* MAPI_ORIG, MAPI_TO, MAPI_CC or MAPI_BCC */
    char *lpszName;     /* display name, or null */
    char *lpszAddress;  /* "SMTP:ann@example.org" and the like, or null */
    ULONG ulEIDSize;    /* bytes at lpEntryID */
    void *lpEntryID;    /* the client's own identifier of the recipient, or null */
} MapiRecipDesc, *lpMapiRecipDesc;

/* One attached file. */
typedef struct MapiFileDesc {
    ULONG ulReserved;   /* 0 */
    ULONG flFlags;      /* 0: an ordinary data file */
    ULONG nPosition;    /* where in the note text the attachment stands; MAPI_POSITION_ANY lets the client choose */
    char *lpszPathName; /* the file to attach, a full path */
    char *lpszFileName; /* the name the recipient sees, or null for the file's own name */
    void *lpFileType;   /* null: the client decides the type */
} MapiFileDesc, *lpMapiFileDesc;

/* The message to compose or send. Every pointer may be null and every count 0. */
typedef struct MapiMessage {
    ULONG ulReserved;         /* 0 */
    char *lpszSubject;        /* subject line */
    char *lpszNoteText;       /* body text */
    char *lpszMessageType;    /* null: an ordinary message */
    char *lpszDateReceived;   /* "YYYY/MM/DD HH:MM", for received messages only */
    char *lpszConversationID; /* thread identifier */
    FLAGS flFlags;            /* state of a stored message; 0 for a new one */
    lpMapiRecipDesc lpOriginator;
    ULONG nRecipCount;
    lpMapiRecipDesc lpRecips;
    ULONG nFileCount;
    lpMapiFileDesc lpFiles;
} MapiMessage, *lpMapiMessage;

/* MAPISendMail(session, parent window, message, flags, reserved): composes and sends a message.
 * Session 0 lets the client log on by itself; the parent window owns the client's dialogs (0
 * for none). Returns SUCCESS_SUCCESS or one of the MAPI_E_ codes below. */
typedef ULONG (*LPMAPISENDMAIL)(LHANDLE lhSession, ULONG_PTR ulUIParam, lpMapiMessage lpMessage, FLAGS flFlags,
                                ULONG ulReserved);
#define MAPI_SEND_MAIL_ENTRY "MAPISendMail"

/* Flags of MAPISendMail. */
#define MAPI_LOGON_UI 0x00000001u /* the client may ask the user to log on */
#define MAPI_DIALOG 0x00000008u   /* show the message to the user before it is sent */

/* Recipient classes. */
#define MAPI_ORIG 0u
#define MAPI_TO 1u
#define MAPI_CC 2u
#define MAPI_BCC 3u

#define MAPI_POSITION_ANY 0xFFFFFFFFu

/* Results. */
#define SUCCESS_SUCCESS 0u
#define MAPI_USER_ABORT 1u
#define MAPI_E_FAILURE 2u
#define MAPI_E_LOGIN_FAILURE 3u
#define MAPI_E_DISK_FULL 4u
#define MAPI_E_INSUFFICIENT_MEMORY 5u
#define MAPI_E_ATTACHMENT_NOT_FOUND 11u
#define MAPI_E_ATTACHMENT_OPEN_FAILURE 12u
#define MAPI_E_ATTACHMENT_WRITE_FAILURE 13u

#ifdef __cplusplus
}
#endif
