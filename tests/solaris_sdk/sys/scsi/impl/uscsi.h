/* The user SCSI command record and its ioctl, as uscsi(7I) describes them. */
#ifndef TSKIT_SOLARIS_SDK_USCSI_H
#define TSKIT_SOLARIS_SDK_USCSI_H

#include <stddef.h>
#include <sys/types.h>

struct uscsi_cmd {
    int uscsi_flags;
    short uscsi_status;
    short uscsi_timeout;
    caddr_t uscsi_cdb;
    caddr_t uscsi_bufaddr;
    size_t uscsi_buflen;
    size_t uscsi_resid;
    unsigned char uscsi_cdblen;
    unsigned char uscsi_rqlen;
    unsigned char uscsi_rqstatus;
    unsigned char uscsi_rqresid;
    caddr_t uscsi_rqbuf;
    void* uscsi_reserved_5;
};

#define USCSI_WRITE 0x00000
#define USCSI_SILENT 0x00001
#define USCSI_DIAGNOSE 0x00002
#define USCSI_ISOLATE 0x00004
#define USCSI_READ 0x00008
#define USCSI_RQENABLE 0x00010

#define USCSIIOC (0x04 << 8)
#define USCSICMD (USCSIIOC | 201)

#endif
