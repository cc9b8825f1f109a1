/* The control channel between the simulated console's driver and its
 * harness: two connections to the harness's pipe "\\.\pipe\qexsimhid-<slot>",
 * one the driver reads commands from, one it writes the console's output
 * reports to. Every message is a frame: a 32-bit little-endian length that
 * counts the kind byte and the payload, the kind byte, the payload.
 *
 * Shared by the driver (C, no run-time library) and the harness (C++). */
#ifndef QEX_SIMHID_PROTOCOL_H
#define QEX_SIMHID_PROTOCOL_H

#define SIMHID_PIPE_PREFIX "qexsimhid-"
#define SIMHID_MAX_SLOTS 16
#define SIMHID_MAX_REPORT 2048   /* report ID byte included */
#define SIMHID_MAX_FRAME (SIMHID_MAX_REPORT + 16)

/* driver -> harness */
#define SIMHID_HELLO_COMMANDS 'R' /* on the command connection; the harness answers with SIMHID_CONFIG */
#define SIMHID_HELLO_OUTPUT 'W'   /* on the output connection */
#define SIMHID_OUTPUT 'O'         /* an output report, report ID first, as long as the device's */
#define SIMHID_GONE 'B'           /* the device is being removed; the harness answers SIMHID_EXIT */
#define SIMHID_DROPPED 'D'        /* an input report the device dropped from its own full queue, ID first */
#define SIMHID_COUNTS 'N'         /* the answer to SIMHID_QUERY: payload SimHidCounts */

/* harness -> driver */
#define SIMHID_CONFIG 'C'         /* payload: SimHidConfig */
#define SIMHID_INPUT 'I'          /* an input report, report ID first */
#define SIMHID_STALL_WRITES 'S'   /* payload: one byte, 1 holds every write until 0 */
#define SIMHID_CANCEL_WRITES 'A'  /* payload: 32-bit ms; every write is held that long, then completes
                                   * as cancelled; 0 takes writes again */
#define SIMHID_EXIT 'X'           /* the command reader ends */
#define SIMHID_QUERY 'Q'          /* the device answers SIMHID_COUNTS, after every input sent before */

#pragma pack(push, 1)
typedef struct SimHidConfig {
  unsigned short vendorId;
  unsigned short productId;
  unsigned short versionNumber;
  unsigned short inputLength;   /* report ID byte included */
  unsigned short outputLength;  /* report ID byte included */
  unsigned short usagePage;     /* vendor-defined pages are 0xFF00..0xFFFF */
  unsigned short usage;
  unsigned char reportId;       /* 0: the descriptor declares no report IDs */
  unsigned char productReadable;
  unsigned short product[127];  /* UTF-16, zero-terminated */
  unsigned short serial[64];
  unsigned short manufacturer[64];
} SimHidConfig;
/* Input reports since the device was added: completed to the class driver's
 * reads, dropped from the device's own queue, still in that queue. */
typedef struct SimHidCounts {
  unsigned int completed;
  unsigned int dropped;
  unsigned int queued;
} SimHidCounts;
#pragma pack(pop)

#endif
