/* The simulation build of the pendant plug-in, libpendant_sim.so: the host entry points plus the
 * Sim ABI that stands in for the operating system (virtual HID bus, timer, dialog, message boxes,
 * status texts). Plain C; everything runs on one thread. No real time passes: a read's wait is
 * virtual. */
#ifndef PENDANT_SIM_H
#define PENDANT_SIM_H

#if defined(__GNUC__)
#define PENDANT_SIM_API __attribute__((visibility("default")))
#else
#define PENDANT_SIM_API
#endif

#ifdef __cplusplus
extern "C" {
#endif

/* ---- Host entry points ---------------------------------------------------------------------- */

/* Takes the profile path's characters; returns the plug-in's display name, valid until the next
 * call. */
PENDANT_SIM_API const char* SetProName(const char* profilePath);
PENDANT_SIM_API void SetDoButton(void (*doButton)(short code));
PENDANT_SIM_API void SetSetDRO(void (*setDRO)(int dro, double value));
PENDANT_SIM_API void SetGetDRO(double (*getDRO)(int dro));
PENDANT_SIM_API void SetGetLED(unsigned char (*getLED)(int led));
PENDANT_SIM_API void SetSetLED(void (*setLED)(void));
PENDANT_SIM_API void SetCode(void (*code)(const char* line));
PENDANT_SIM_API unsigned char InitControl(void* hostState, void* hostConfig, void* hostMotion,
                                          void* hostParentWindow);
PENDANT_SIM_API void PostInitControl(void);
PENDANT_SIM_API void Config(void);
PENDANT_SIM_API void Update(void);
PENDANT_SIM_API void StopPlug(void);
PENDANT_SIM_API void DoDwell(void);
PENDANT_SIM_API void Reset(void);
PENDANT_SIM_API void JogOn(void);
PENDANT_SIM_API void JogOff(void);
PENDANT_SIM_API void Purge(void);
PENDANT_SIM_API void Probe(void);
PENDANT_SIM_API void Home(void);

/* ---- Host data blocks: sizes and the byte offsets of the fields the plug-in touches ---------- */

enum {
  PENDANT_SIM_AXIS_COUNT = 6,

  /* HostState */
  PENDANT_SIM_HOST_STATE_SIZE = 0x289E0,
  PENDANT_SIM_COMMAND_QUEUE_IN = 0x28000,   /* int32 */
  PENDANT_SIM_COMMAND_QUEUE_OUT = 0x28004,  /* int32 */
  PENDANT_SIM_AXIS_JOG = 0x28064,           /* record of axis 0 */
  PENDANT_SIM_AXIS_JOG_STRIDE = 96,         /* one record per axis */
  PENDANT_SIM_AXIS_JOG_SPEED = 0x00,        /* int32, within a record */
  PENDANT_SIM_AXIS_JOG_SPEED_MAX = 0x04,    /* int32 */
  PENDANT_SIM_AXIS_JOG_AUX = 0x08,          /* int32 */
  PENDANT_SIM_AXIS_JOG_STOP_REQUEST = 0x0E, /* uint8 */
  PENDANT_SIM_AXIS_JOG_ACTIVE = 0x10,       /* uint8 */
  PENDANT_SIM_AXIS_JOG_DIRECTION = 0x14,    /* int32 */
  PENDANT_SIM_JOG_INHIBIT = 0x289DF,        /* uint8 */

  /* HostConfig */
  PENDANT_SIM_HOST_CONFIG_SIZE = 0x20A30,
  PENDANT_SIM_INCREMENTAL_MODE = 0x4A8,      /* int32 */
  PENDANT_SIM_XY_ROTATION_DEGREES = 0x20A28, /* double */

  /* HostMotion */
  PENDANT_SIM_HOST_MOTION_SIZE = 0x11BB20,
  PENDANT_SIM_MOTION_QUEUE_IN = 0xC355C,       /* int32 */
  PENDANT_SIM_MOTION_QUEUE_OUT = 0xC3560,      /* int32 */
  PENDANT_SIM_AXIS_VELOCITY = 0xC3680,         /* double, + 8 * axis */
  PENDANT_SIM_AXIS_JOG_SPEED_MAX_IN = 0xC3B48, /* int32, + 4 * axis */
  PENDANT_SIM_AXIS_JOG_AUX_IN = 0xC3B60,       /* int32, + 4 * axis */
  PENDANT_SIM_JOG_INCREMENT = 0xC3C50,         /* double */
  PENDANT_SIM_MOTION_BUSY = 0xC3CB0,           /* int32 */
  PENDANT_SIM_STATUS_MESSAGE = 0x11BB0C        /* the host's string object; the simulation
                                                  reports status texts through a sink */
};

/* ---- Sim ABI ----------------------------------------------------------------------------------
 */

/* Back to the state right after the library was loaded: settings zeroed, counters and latches
 * initial, bus empty, sinks cleared, dialog script cleared. Called from inside a callback or sink
 * (while a plug-in call is still running) it does nothing. */
PENDANT_SIM_API void SimReset(void);

/* Appends a present HID interface to the virtual bus; returns its index from 0. */
PENDANT_SIM_API int SimAddDevice(unsigned short vendorId, unsigned short productId);
/* The interface path, lower-case hex, e.g.
 * \\?\hid#vid_04d8&pid_fce4#0#{4d1e55b2-f16f-11cf-88cb-001111000030}; "" for an unknown index. */
PENDANT_SIM_API const char* SimDevicePath(int index);
/* An absent device is neither enumerated nor openable. */
PENDANT_SIM_API void SimSetDevicePresent(int index, int present);
/* While set, every open of that device's path fails. */
PENDANT_SIM_API void SimSetOpenFails(int index, int fails);
/* Virtual file handles open right now. */
PENDANT_SIM_API int SimOpenHandleCount(void);
/* Delivers a device-change message to the hidden window as a device-interface broadcast with that
 * name (path NULL: a broadcast of another device type). Returns 1 if delivered, 0 if the window
 * never registered for notifications or does not exist. */
PENDANT_SIM_API int SimDeviceChange(unsigned int eventType, const char* path);
/* One input report arrives now. Reports queue up as in the system's HID input buffer (17 kept,
 * the oldest dropped), and each poll takes every queued one: it decodes the newest, and before it
 * any older one whose key change the next report undoes, and every wheel move in between counts;
 * with none queued it decodes the last report again. A poll that finds the queue full does not
 * move the wheel for the gap before the oldest report it took. */
PENDANT_SIM_API void SimQueueInputReport(const unsigned char report[8]);
PENDANT_SIM_API int SimOutputReportCount(void);
/* The last output report written; zeros before the first one. */
PENDANT_SIM_API void SimLastOutputReport(unsigned char report[5]);
/* Delivers one timer message; returns 1 if the poll timer is running, else 0. A timer message
 * delivered from inside a callback of a running poll starts no second poll. */
PENDANT_SIM_API int SimTimerTick(void);
/* Receives every status text (NULL: none). */
PENDANT_SIM_API void SimSetStatusSink(void (*sink)(const char* text));
/* Receives every message-box text (NULL: none). */
PENDANT_SIM_API void SimSetMessageBoxSink(void (*sink)(const char* text));
/* Receives the diagnostic trail, one line per connection event and never one per poll (NULL:
 * none). The lines are those the Windows build writes to the debugger output, without the line
 * feed: "Pendant: search: found <path>", "Pendant: search: none among <n> HID interfaces",
 * "Pendant: open failed: probe|read|write <path>: error <code>", "Pendant: arrival: <name>; ...",
 * "Pendant: removal: <name>; ...", "Pendant: read error: error <code>". */
PENDANT_SIM_API void SimSetTrailSink(void (*sink)(const char* line));

/* Device-change event types for SimDeviceChange. */
enum { PENDANT_SIM_DEVICE_ARRIVAL = 0x8000, PENDANT_SIM_DEVICE_REMOVE_COMPLETE = 0x8004 };

/* The configuration dialog's script: actions queued here are played in order over the filled
 * dialog by the next Config, which then empties the script; a script that leaves the dialog open
 * ends with Esc. */
PENDANT_SIM_API void SimDialogSetText(int controlId, const char* text);
PENDANT_SIM_API void SimDialogSelect(int controlId, int index);
PENDANT_SIM_API void SimDialogSetCheck(int controlId, int checked);
PENDANT_SIM_API void SimDialogPress(int controlId); /* 1 OK, 2 Esc */
/* `count` timer messages while the dialog is open, as its modal loop dispatches them: each runs a
 * poll, after which the dialog's status area shows the pendant's view anew. */
PENDANT_SIM_API void SimDialogTick(int count);
PENDANT_SIM_API void SimDialogClear(void);

/* The dialog's status area as last shown (during the running Config, or by the last one; "" before
 * the first). The status text is "Pendant connected" or "No pendant found. Plug it in: it is
 * picked up when plugged in."; the live view, while connected, names the keys and buttons held,
 * the wheel counter and the safety input, e.g. "Held: EN X/A F1   Wheel: 132   Safety input: off",
 * or "Waiting for the pendant's first report" after a reopen; "" while no pendant is connected.
 * Valid until the next call into the library. */
PENDANT_SIM_API const char* SimDialogStatusText(void);
PENDANT_SIM_API const char* SimDialogLiveView(void);
/* Receives both texts when a dialog opens and whenever they change while it is open (NULL: none).
 */
PENDANT_SIM_API void SimSetDialogViewSink(void (*sink)(const char* status, const char* liveView));

#ifdef __cplusplus
}
#endif

#endif /* PENDANT_SIM_H */
