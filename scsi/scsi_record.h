// One SCSI command on its way to a device and back: the command block, the
// data buffer and its direction, the sense buffer and the time-out going in;
// what the pass-through says of the command coming back. A plain record that
// the pass-through (scsi_request.h) and the withheld devices
// (scsi_withheld.h) both read, so that neither includes the other's header
// for it.
#ifndef TSKIT_SCSI_RECORD_H
#define TSKIT_SCSI_RECORD_H

enum ScsiDirection {
    SCSI_DIR_NONE = 0,
    SCSI_DIR_FROM_DEVICE = 1,
    SCSI_DIR_TO_DEVICE = 2,
};

struct ScsiRequest {
    // Going in.
    const unsigned char* cdb;
    unsigned char cdbLen;
    ScsiDirection direction;
    unsigned char* data;
    unsigned int dataLen;
    unsigned char* sense;  // may be null: no sense data is asked for
    unsigned char senseLen;
    unsigned int timeoutMs;

    // Coming back, valid when scsi_PassThrough returned 0.
    unsigned char status;         // SCSI status byte
    unsigned short hostStatus;    // transport verdict (DID_* on Linux)
    unsigned short driverStatus;  // low-level driver verdict
    bool checkReported;           // some error or sense was reported
    unsigned char senseWritten;   // bytes of sense data returned
    int resid;                    // data bytes not transferred

    // Set when scsi_PassThrough returned -1: the system's error number.
    int sysError;
};

#endif  // TSKIT_SCSI_RECORD_H
