/* The virtual pendant's control device: how a test program feeds it input reports, collects the
   output reports the application wrote and reads its state. Shared by the driver (C) and the
   Win32 test programs (C++). */
#pragma once

/* The device a test opens with CreateFile. */
#define VPENDANT_CONTROL_PATH "\\\\.\\VirtualPendantControl"

/* Identity and report shape as the application sees them through the HID stack. */
#define VPENDANT_VENDOR_ID 0x04D8
#define VPENDANT_PRODUCT_ID 0xFCE4
/* Data bytes without the report id byte that the class driver adds in front. */
#define VPENDANT_INPUT_DATA 7
#define VPENDANT_OUTPUT_DATA 4

/* Device type unknown (0x22), function 0x800 + n, buffered, any access. */
#define VPENDANT_CTL(n) (((0x22u) << 16) | ((0x800u + (n)) << 2) | 0u)
/* in: VPENDANT_INPUT_DATA bytes. Reporting on change: queued and delivered once, in order.
   Streaming: becomes the report sent every period. */
#define VPENDANT_IOCTL_PUSH VPENDANT_CTL(1)
/* out: as many written output reports (VPENDANT_OUTPUT_DATA bytes each) as fit, oldest first. */
#define VPENDANT_IOCTL_POP VPENDANT_CTL(2)
/* out: struct vpendant_status. */
#define VPENDANT_IOCTL_STATUS VPENDANT_CTL(3)
/* in: a 32-bit period in milliseconds; 0 reports only on change, 1..1000 streams the current
   report at that period. */
#define VPENDANT_IOCTL_SET_PERIOD VPENDANT_CTL(4)

#define VPENDANT_MAX_PERIOD_MS 1000u

struct vpendant_status {
  unsigned int attached;       /* a HID device of ours exists and is not removed */
  unsigned int started;        /* and has been started */
  unsigned int read_pending;   /* the class driver's read is waiting for a report */
  unsigned int period_ms;      /* 0: reports on change */
  unsigned int queued_inputs;  /* pushed, not yet read by the class driver */
  unsigned int queued_outputs; /* written, not yet popped */
  unsigned int reports_sent;   /* reads completed with a report */
  unsigned int writes;         /* output reports written */
  unsigned int pushes;
  unsigned int inputs_dropped;  /* pushed into a full queue: the oldest went */
  unsigned int outputs_dropped; /* written into a full queue: the oldest went */
};
