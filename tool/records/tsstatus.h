// The status codes of tsexTool's operations, one set for every module: the
// discovery, the identification of a device node and the command line all
// answer with these.
#ifndef TSEXTOOL_TSSTATUS_H
#define TSEXTOOL_TSSTATUS_H

enum TsStatus {
    TS_OK = 0,
    // A general failure: a missing record, or (from the vlun discovery) a
    // "multipath -ll" listing that could not be started at all.
    TS_ERR_FAILED = -1,
    TS_ERR_NOT_VENDOR = -2,    // the device is not one of the vendor's
    TS_ERR_NO_MULTIPATH = -3,  // the multipath command is missing or fails
    TS_ERR_INQUIRY = -4,       // the standard INQUIRY failed (strict identification)
    TS_ERR_OPEN = -5,          // the device node cannot be opened
    TS_ERR_REFUSED = -6,       // the command's words were refused, and the refusal said
};

#endif  // TSEXTOOL_TSSTATUS_H
