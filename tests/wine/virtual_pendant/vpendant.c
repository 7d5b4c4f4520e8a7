/* A virtual pendant for Wine's HID stack: a HID minidriver whose device has the pendant's
   identifiers and report shape, fed and read through a control device by the test programs.

   The class driver keeps one READ_REPORT pending. Reporting on change (period 0), each pushed
   report is delivered once, in order; streaming (period > 0), a system thread completes the read
   with the current report at every period, as a pendant that sends its state continuously.
   Output reports the application writes are queued for the test to pop.

   One pendant at a time: the state is global and guarded by the cancel spin lock, which also
   guards the pending read's cancel routine. */
#include <ntddk.h>

/* Minidriver declarations, as documented for hidport.h (which MinGW does not ship). */
#define VP_HID_CTL(id) (((0x0bu) << 16) | ((id) << 2) | 3u) /* keyboard type, neither I/O */
#define VP_IOCTL_HID_GET_DEVICE_DESCRIPTOR VP_HID_CTL(0)
#define VP_IOCTL_HID_GET_REPORT_DESCRIPTOR VP_HID_CTL(1)
#define VP_IOCTL_HID_READ_REPORT VP_HID_CTL(2)
#define VP_IOCTL_HID_WRITE_REPORT VP_HID_CTL(3)
#define VP_IOCTL_HID_GET_STRING VP_HID_CTL(4)
#define VP_IOCTL_HID_ACTIVATE_DEVICE VP_HID_CTL(7)
#define VP_IOCTL_HID_DEACTIVATE_DEVICE VP_HID_CTL(8)
#define VP_IOCTL_HID_GET_DEVICE_ATTRIBUTES VP_HID_CTL(9)
#define VP_IOCTL_HID_SET_OUTPUT_REPORT \
  ((0x0bu << 16) | (101u << 2) | 1u) /* keyboard type, in-direct */

#define VP_HID_STRING_ID_IMANUFACTURER 14
#define VP_HID_STRING_ID_IPRODUCT 15
#define VP_HID_STRING_ID_ISERIALNUMBER 16

typedef struct {
  ULONG Revision;
  PDRIVER_OBJECT DriverObject;
  PUNICODE_STRING RegistryPath;
  ULONG DeviceExtensionSize;
  BOOLEAN DevicesArePolled;
  UCHAR Reserved[3];
} VP_HID_MINIDRIVER_REGISTRATION;

typedef struct {
  PDEVICE_OBJECT PhysicalDeviceObject;
  PDEVICE_OBJECT NextDeviceObject;
  PVOID MiniDeviceExtension;
} VP_HID_DEVICE_EXTENSION;

#pragma pack(push, 1)
typedef struct {
  UCHAR bLength;
  UCHAR bDescriptorType;
  USHORT bcdHID;
  UCHAR bCountry;
  UCHAR bNumDescriptors;
  UCHAR bReportType;
  USHORT wReportLength;
} VP_HID_DESCRIPTOR;
#pragma pack(pop)

typedef struct {
  ULONG Size;
  USHORT VendorID;
  USHORT ProductID;
  USHORT VersionNumber;
  USHORT Reserved[11];
} VP_HID_DEVICE_ATTRIBUTES;

typedef struct {
  PUCHAR reportBuffer;
  ULONG reportBufferLen;
  UCHAR reportId;
} VP_HID_XFER_PACKET;

NTSTATUS NTAPI HidRegisterMinidriver(VP_HID_MINIDRIVER_REGISTRATION* registration);
/* Exported by ntoskrnl on both targets, declared by MinGW's headers on neither. */
NTSYSAPI NTSTATUS NTAPI ZwWaitForSingleObject(HANDLE handle, BOOLEAN alertable,
                                              PLARGE_INTEGER timeout);

#include "control.h"

#define INPUT_QUEUE 64
#define OUTPUT_QUEUE 512

/* Vendor page 0xFF00, one application collection: 7 input bytes and 4 output bytes, no report
   ids. The class driver reports lengths of 8 and 5 (its id byte in front). */
static const UCHAR report_descriptor[] = {
    0x06, 0x00,
    0xFF,       /* usage page (vendor 0xFF00) */
    0x09, 0x01, /* usage 1 */
    0xA1, 0x01, /* collection (application) */
    0x15, 0x00, /*   logical minimum 0 */
    0x26, 0xFF,
    0x00,                       /*   logical maximum 255 */
    0x75, 0x08,                 /*   report size 8 */
    0x09, 0x02,                 /*   usage 2 */
    0x95, VPENDANT_INPUT_DATA,  /* report count */
    0x81, 0x02,                 /*   input (data, variable, absolute) */
    0x09, 0x03,                 /*   usage 3 */
    0x95, VPENDANT_OUTPUT_DATA, /* report count */
    0x91, 0x02,                 /*   output (data, variable, absolute) */
    0xC0,                       /* end collection */
};

static const WCHAR manufacturer_string[] = L"Test equipment";
static const WCHAR product_string[] = L"Virtual pendant";
static const WCHAR serial_string[] = L"0001";

static DEVICE_OBJECT* control_device;
static UNICODE_STRING control_link;
static BOOLEAN control_link_made;
/* hidclass's dispatch routines, which the control device must not reach. */
static PDRIVER_DISPATCH class_dispatch[IRP_MJ_MAXIMUM_FUNCTION + 1];

/* Guarded by the cancel spin lock. */
static IRP* pending_read;
static BOOLEAN attached;
static BOOLEAN started;
static UCHAR current_report[VPENDANT_INPUT_DATA];
static UCHAR input_queue[INPUT_QUEUE][VPENDANT_INPUT_DATA];
static ULONG input_head, input_count;
static UCHAR output_queue[OUTPUT_QUEUE][VPENDANT_OUTPUT_DATA];
static ULONG output_head, output_count;
static ULONG period_ms;
static struct vpendant_status counters;

/* The streaming thread; started and stopped at passive level outside the lock. */
static HANDLE stream_thread;
static KEVENT stream_stop;
static FAST_MUTEX stream_mutex;

static NTSTATUS complete(IRP* irp, NTSTATUS status, ULONG_PTR information) {
  irp->IoStatus.Status = status;
  irp->IoStatus.Information = information;
  IoCompleteRequest(irp, IO_NO_INCREMENT);
  return status;
}

static void NTAPI cancel_read(DEVICE_OBJECT* device, IRP* irp) {
  (void)device;
  if (pending_read == irp) pending_read = NULL;
  IoReleaseCancelSpinLock(irp->CancelIrql);
  complete(irp, STATUS_CANCELLED, 0);
}

/* With the lock held: the pending read, now ours to complete, or NULL. */
static IRP* take_pending_read(void) {
  IRP* irp = pending_read;
  pending_read = NULL;
  /* A cancel routine already gone means the cancel is under way: it completes the read. */
  if (irp != NULL && IoSetCancelRoutine(irp, NULL) == NULL) return NULL;
  return irp;
}

static void complete_read(IRP* irp, const UCHAR* report) {
  RtlCopyMemory(irp->UserBuffer, report, VPENDANT_INPUT_DATA);
  complete(irp, STATUS_SUCCESS, VPENDANT_INPUT_DATA);
}

static NTSTATUS read_report(IRP* irp, IO_STACK_LOCATION* stack) {
  KIRQL irql;
  UCHAR report[VPENDANT_INPUT_DATA];
  if (stack->Parameters.DeviceIoControl.OutputBufferLength < VPENDANT_INPUT_DATA ||
      irp->UserBuffer == NULL)
    return complete(irp, STATUS_BUFFER_TOO_SMALL, 0);
  IoAcquireCancelSpinLock(&irql);
  if (!attached) {
    IoReleaseCancelSpinLock(irql);
    return complete(irp, STATUS_DEVICE_NOT_CONNECTED, 0);
  }
  if (period_ms == 0 && input_count > 0) {
    RtlCopyMemory(report, input_queue[input_head], VPENDANT_INPUT_DATA);
    input_head = (input_head + 1) % INPUT_QUEUE;
    --input_count;
    ++counters.reports_sent;
    IoReleaseCancelSpinLock(irql);
    complete_read(irp, report);
    return STATUS_SUCCESS;
  }
  if (pending_read != NULL) {
    IoReleaseCancelSpinLock(irql);
    return complete(irp, STATUS_INVALID_DEVICE_REQUEST, 0);
  }
  IoMarkIrpPending(irp);
  IoSetCancelRoutine(irp, cancel_read);
  if (irp->Cancel && IoSetCancelRoutine(irp, NULL) != NULL) {
    IoReleaseCancelSpinLock(irql);
    complete(irp, STATUS_CANCELLED, 0);
    return STATUS_PENDING;
  }
  pending_read = irp;
  IoReleaseCancelSpinLock(irql);
  return STATUS_PENDING;
}

static NTSTATUS write_report(IRP* irp) {
  KIRQL irql;
  const VP_HID_XFER_PACKET* packet = irp->UserBuffer;
  UCHAR data[VPENDANT_OUTPUT_DATA] = {0};
  if (packet == NULL || packet->reportBuffer == NULL)
    return complete(irp, STATUS_INVALID_PARAMETER, 0);
  RtlCopyMemory(data, packet->reportBuffer,
                packet->reportBufferLen < VPENDANT_OUTPUT_DATA ? packet->reportBufferLen
                                                               : VPENDANT_OUTPUT_DATA);
  IoAcquireCancelSpinLock(&irql);
  if (output_count == OUTPUT_QUEUE) {
    output_head = (output_head + 1) % OUTPUT_QUEUE;
    --output_count;
    ++counters.outputs_dropped;
  }
  RtlCopyMemory(output_queue[(output_head + output_count) % OUTPUT_QUEUE], data,
                VPENDANT_OUTPUT_DATA);
  ++output_count;
  ++counters.writes;
  IoReleaseCancelSpinLock(irql);
  /* The id byte counts: with the data length alone the application's write comes out short. */
  return complete(irp, STATUS_SUCCESS, VPENDANT_OUTPUT_DATA + 1);
}

static NTSTATUS copy_out(IRP* irp, IO_STACK_LOCATION* stack, const void* data, ULONG size) {
  if (irp->UserBuffer == NULL || stack->Parameters.DeviceIoControl.OutputBufferLength < size)
    return complete(irp, STATUS_BUFFER_TOO_SMALL, 0);
  RtlCopyMemory(irp->UserBuffer, data, size);
  return complete(irp, STATUS_SUCCESS, size);
}

static NTSTATUS NTAPI dispatch_internal(DEVICE_OBJECT* device, IRP* irp) {
  IO_STACK_LOCATION* stack = IoGetCurrentIrpStackLocation(irp);
  (void)device;
  switch (stack->Parameters.DeviceIoControl.IoControlCode) {
    case VP_IOCTL_HID_GET_DEVICE_DESCRIPTOR: {
      VP_HID_DESCRIPTOR descriptor;
      RtlZeroMemory(&descriptor, sizeof(descriptor));
      descriptor.bLength = sizeof(descriptor);
      descriptor.bDescriptorType = 0x21;
      descriptor.bcdHID = 0x0100;
      descriptor.bNumDescriptors = 1;
      descriptor.bReportType = 0x22;
      descriptor.wReportLength = sizeof(report_descriptor);
      return copy_out(irp, stack, &descriptor, sizeof(descriptor));
    }
    case VP_IOCTL_HID_GET_REPORT_DESCRIPTOR:
      return copy_out(irp, stack, report_descriptor, sizeof(report_descriptor));
    case VP_IOCTL_HID_GET_DEVICE_ATTRIBUTES: {
      VP_HID_DEVICE_ATTRIBUTES attributes;
      RtlZeroMemory(&attributes, sizeof(attributes));
      attributes.Size = sizeof(attributes);
      attributes.VendorID = VPENDANT_VENDOR_ID;
      attributes.ProductID = VPENDANT_PRODUCT_ID;
      attributes.VersionNumber = 0x0100;
      return copy_out(irp, stack, &attributes, sizeof(attributes));
    }
    case VP_IOCTL_HID_GET_STRING: {
      const ULONG id =
          (ULONG)(ULONG_PTR)stack->Parameters.DeviceIoControl.Type3InputBuffer & 0xFFFF;
      const WCHAR* text = id == VP_HID_STRING_ID_IMANUFACTURER   ? manufacturer_string
                          : id == VP_HID_STRING_ID_IPRODUCT      ? product_string
                          : id == VP_HID_STRING_ID_ISERIALNUMBER ? serial_string
                                                                 : NULL;
      ULONG size = 0;
      if (text == NULL) return complete(irp, STATUS_INVALID_PARAMETER, 0);
      while (text[size / sizeof(WCHAR)] != 0) size += sizeof(WCHAR);
      return copy_out(irp, stack, text, size + sizeof(WCHAR));
    }
    case VP_IOCTL_HID_READ_REPORT:
      return read_report(irp, stack);
    case VP_IOCTL_HID_WRITE_REPORT:
    case VP_IOCTL_HID_SET_OUTPUT_REPORT:
      return write_report(irp);
    case VP_IOCTL_HID_ACTIVATE_DEVICE:
    case VP_IOCTL_HID_DEACTIVATE_DEVICE:
      return complete(irp, STATUS_SUCCESS, 0);
    default:
      return complete(irp, STATUS_NOT_SUPPORTED, 0);
  }
}

/* ------------------------------------------------------------------------------------------- */
/* Streaming */

/* Keeps to the period on average: each wait runs to the next deadline, not a period after the
   last report, so the time spent completing a read does not stretch it. */
/* Now in 100 ns units. (The header's KeQueryInterruptTime reads the kernel's shared page, which
   Wine does not map into winedevice.) */
static ULONGLONG now_100ns(void) {
  LARGE_INTEGER frequency;
  const LARGE_INTEGER counter = KeQueryPerformanceCounter(&frequency);
  if (frequency.QuadPart <= 0) return 0;
  return (ULONGLONG)(counter.QuadPart / frequency.QuadPart) * 10000000u +
         (ULONGLONG)(counter.QuadPart % frequency.QuadPart) * 10000000u /
             (ULONGLONG)frequency.QuadPart;
}

static void NTAPI stream_main(void* context) {
  ULONGLONG next = now_100ns();
  (void)context;
  for (;;) {
    KIRQL irql;
    IRP* irp = NULL;
    UCHAR report[VPENDANT_INPUT_DATA];
    LARGE_INTEGER timeout;
    ULONGLONG now;
    ULONGLONG period;
    IoAcquireCancelSpinLock(&irql);
    period = (ULONGLONG)(period_ms != 0 ? period_ms : 1) * 10000;
    IoReleaseCancelSpinLock(irql);
    now = now_100ns();
    next += period;
    if (next <= now || next > now + period) next = now + period; /* fell behind, or changed */
    timeout.QuadPart = -(LONGLONG)(next - now);
    if (KeWaitForSingleObject(&stream_stop, Executive, KernelMode, FALSE, &timeout) !=
        STATUS_TIMEOUT)
      break;
    IoAcquireCancelSpinLock(&irql);
    if (period_ms != 0 && attached) {
      irp = take_pending_read();
      if (irp != NULL) {
        RtlCopyMemory(report, current_report, sizeof(report));
        ++counters.reports_sent;
      }
    }
    IoReleaseCancelSpinLock(irql);
    if (irp != NULL) complete_read(irp, report);
  }
  PsTerminateSystemThread(STATUS_SUCCESS);
}

static void stop_streaming(void) {
  ExAcquireFastMutex(&stream_mutex);
  if (stream_thread != NULL) {
    KeSetEvent(&stream_stop, IO_NO_INCREMENT, FALSE);
    ZwWaitForSingleObject(stream_thread, FALSE, NULL);
    ZwClose(stream_thread);
    stream_thread = NULL;
  }
  ExReleaseFastMutex(&stream_mutex);
}

static NTSTATUS start_streaming(void) {
  NTSTATUS status = STATUS_SUCCESS;
  ExAcquireFastMutex(&stream_mutex);
  if (stream_thread == NULL) {
    KeClearEvent(&stream_stop);
    status = PsCreateSystemThread(&stream_thread, THREAD_ALL_ACCESS, NULL, NULL, NULL, stream_main,
                                  NULL);
    if (!NT_SUCCESS(status)) stream_thread = NULL;
  }
  ExReleaseFastMutex(&stream_mutex);
  return status;
}

/* ------------------------------------------------------------------------------------------- */
/* The control device */

static NTSTATUS control_ioctl(IRP* irp) {
  IO_STACK_LOCATION* stack = IoGetCurrentIrpStackLocation(irp);
  const ULONG in_size = stack->Parameters.DeviceIoControl.InputBufferLength;
  const ULONG out_size = stack->Parameters.DeviceIoControl.OutputBufferLength;
  void* buffer = irp->AssociatedIrp.SystemBuffer;
  KIRQL irql;
  switch (stack->Parameters.DeviceIoControl.IoControlCode) {
    case VPENDANT_IOCTL_PUSH: {
      IRP* read = NULL;
      if (in_size != VPENDANT_INPUT_DATA || buffer == NULL)
        return complete(irp, STATUS_INVALID_PARAMETER, 0);
      IoAcquireCancelSpinLock(&irql);
      ++counters.pushes;
      RtlCopyMemory(current_report, buffer, VPENDANT_INPUT_DATA);
      if (period_ms == 0) {
        read = take_pending_read();
        if (read != NULL) {
          ++counters.reports_sent;
        } else {
          if (input_count == INPUT_QUEUE) {
            input_head = (input_head + 1) % INPUT_QUEUE;
            --input_count;
            ++counters.inputs_dropped;
          }
          RtlCopyMemory(input_queue[(input_head + input_count) % INPUT_QUEUE], buffer,
                        VPENDANT_INPUT_DATA);
          ++input_count;
        }
      }
      IoReleaseCancelSpinLock(irql);
      if (read != NULL) complete_read(read, buffer);
      return complete(irp, STATUS_SUCCESS, 0);
    }
    case VPENDANT_IOCTL_POP: {
      ULONG n = 0;
      UCHAR* out = buffer;
      if (buffer == NULL && out_size != 0) return complete(irp, STATUS_INVALID_PARAMETER, 0);
      IoAcquireCancelSpinLock(&irql);
      while (output_count > 0 && (n + 1) * VPENDANT_OUTPUT_DATA <= out_size) {
        RtlCopyMemory(out + n * VPENDANT_OUTPUT_DATA, output_queue[output_head],
                      VPENDANT_OUTPUT_DATA);
        output_head = (output_head + 1) % OUTPUT_QUEUE;
        --output_count;
        ++n;
      }
      IoReleaseCancelSpinLock(irql);
      return complete(irp, STATUS_SUCCESS, n * VPENDANT_OUTPUT_DATA);
    }
    case VPENDANT_IOCTL_STATUS: {
      struct vpendant_status status;
      if (out_size < sizeof(status) || buffer == NULL)
        return complete(irp, STATUS_BUFFER_TOO_SMALL, 0);
      IoAcquireCancelSpinLock(&irql);
      status = counters;
      status.attached = attached;
      status.started = started;
      status.read_pending = pending_read != NULL;
      status.period_ms = period_ms;
      status.queued_inputs = input_count;
      status.queued_outputs = output_count;
      IoReleaseCancelSpinLock(irql);
      RtlCopyMemory(buffer, &status, sizeof(status));
      return complete(irp, STATUS_SUCCESS, sizeof(status));
    }
    case VPENDANT_IOCTL_SET_PERIOD: {
      ULONG period;
      NTSTATUS status = STATUS_SUCCESS;
      if (in_size != sizeof(ULONG) || buffer == NULL)
        return complete(irp, STATUS_INVALID_PARAMETER, 0);
      RtlCopyMemory(&period, buffer, sizeof(period));
      if (period > VPENDANT_MAX_PERIOD_MS) return complete(irp, STATUS_INVALID_PARAMETER, 0);
      if (period == 0) stop_streaming();
      IoAcquireCancelSpinLock(&irql);
      period_ms = period;
      /* A mode change starts from a clean slate: nothing queued under the old one. */
      input_head = input_count = 0;
      IoReleaseCancelSpinLock(irql);
      if (period != 0) status = start_streaming();
      return complete(irp, status, 0);
    }
    default:
      return complete(irp, STATUS_INVALID_DEVICE_REQUEST, 0);
  }
}

/* Every major function of the driver goes through here, so that requests to the control device
   never reach hidclass, which would take it for one of its own. */
static NTSTATUS NTAPI dispatch_any(DEVICE_OBJECT* device, IRP* irp) {
  const UCHAR major = IoGetCurrentIrpStackLocation(irp)->MajorFunction;
  if (device == control_device) {
    switch (major) {
      case IRP_MJ_CREATE:
      case IRP_MJ_CLOSE:
      case IRP_MJ_CLEANUP:
        return complete(irp, STATUS_SUCCESS, 0);
      case IRP_MJ_DEVICE_CONTROL:
        return control_ioctl(irp);
      default:
        return complete(irp, STATUS_INVALID_DEVICE_REQUEST, 0);
    }
  }
  return class_dispatch[major](device, irp);
}

/* ------------------------------------------------------------------------------------------- */
/* Plug and play, called by hidclass for its device */

static NTSTATUS NTAPI start_completed(DEVICE_OBJECT* device, IRP* irp, void* context) {
  (void)device;
  (void)irp;
  KeSetEvent((KEVENT*)context, IO_NO_INCREMENT, FALSE);
  return STATUS_MORE_PROCESSING_REQUIRED;
}

/* Ends the device's I/O: the class driver's read thread waits on the pending read, and a removal
   waits on that thread. */
static void detach_io(void) {
  KIRQL irql;
  IRP* irp;
  IoAcquireCancelSpinLock(&irql);
  attached = FALSE;
  started = FALSE;
  irp = take_pending_read();
  input_head = input_count = 0;
  IoReleaseCancelSpinLock(irql);
  if (irp != NULL) complete(irp, STATUS_DELETE_PENDING, 0);
}

static NTSTATUS NTAPI dispatch_pnp(DEVICE_OBJECT* device, IRP* irp) {
  IO_STACK_LOCATION* stack = IoGetCurrentIrpStackLocation(irp);
  DEVICE_OBJECT* next = ((VP_HID_DEVICE_EXTENSION*)device->DeviceExtension)->NextDeviceObject;
  KIRQL irql;
  switch (stack->MinorFunction) {
    case IRP_MN_START_DEVICE: {
      KEVENT done;
      NTSTATUS status;
      KeInitializeEvent(&done, NotificationEvent, FALSE);
      IoCopyCurrentIrpStackLocationToNext(irp);
      IoSetCompletionRoutine(irp, start_completed, &done, TRUE, TRUE, TRUE);
      status = IoCallDriver(next, irp);
      if (status == STATUS_PENDING) {
        KeWaitForSingleObject(&done, Executive, KernelMode, FALSE, NULL);
        status = irp->IoStatus.Status;
      }
      if (status == STATUS_NOT_SUPPORTED) status = STATUS_SUCCESS; /* nothing below to start */
      if (NT_SUCCESS(status)) {
        IoAcquireCancelSpinLock(&irql);
        started = TRUE;
        IoReleaseCancelSpinLock(irql);
      }
      return complete(irp, status, 0);
    }
    case IRP_MN_SURPRISE_REMOVAL:
    case IRP_MN_REMOVE_DEVICE:
      detach_io();
      irp->IoStatus.Status = STATUS_SUCCESS;
      break;
    case IRP_MN_QUERY_REMOVE_DEVICE:
    case IRP_MN_CANCEL_REMOVE_DEVICE:
    case IRP_MN_QUERY_STOP_DEVICE:
    case IRP_MN_CANCEL_STOP_DEVICE:
    case IRP_MN_STOP_DEVICE:
      irp->IoStatus.Status = STATUS_SUCCESS;
      break;
    default:
      break;
  }
  IoSkipCurrentIrpStackLocation(irp);
  return IoCallDriver(next, irp);
}

static NTSTATUS NTAPI add_device(DRIVER_OBJECT* driver, DEVICE_OBJECT* device) {
  KIRQL irql;
  (void)driver;
  (void)device;
  IoAcquireCancelSpinLock(&irql);
  attached = TRUE;
  started = FALSE;
  input_head = input_count = 0;
  output_head = output_count = 0;
  RtlZeroMemory(current_report, sizeof(current_report));
  IoReleaseCancelSpinLock(irql);
  return STATUS_SUCCESS;
}

static void NTAPI driver_unload(DRIVER_OBJECT* driver) {
  (void)driver;
  stop_streaming();
  if (control_link_made) IoDeleteSymbolicLink(&control_link);
  control_link_made = FALSE;
  if (control_device != NULL) IoDeleteDevice(control_device);
  control_device = NULL;
}

NTSTATUS NTAPI DriverEntry(DRIVER_OBJECT* driver, UNICODE_STRING* registry) {
  VP_HID_MINIDRIVER_REGISTRATION registration;
  UNICODE_STRING name;
  NTSTATUS status;
  ULONG i;

  KeInitializeEvent(&stream_stop, NotificationEvent, FALSE);
  ExInitializeFastMutex(&stream_mutex);

  driver->MajorFunction[IRP_MJ_PNP] = dispatch_pnp;
  driver->MajorFunction[IRP_MJ_INTERNAL_DEVICE_CONTROL] = dispatch_internal;
  driver->DriverExtension->AddDevice = add_device;
  driver->DriverUnload = driver_unload;

  RtlZeroMemory(&registration, sizeof(registration));
  registration.Revision = 1;
  registration.DriverObject = driver;
  registration.RegistryPath = registry;
  registration.DevicesArePolled = FALSE;
  status = HidRegisterMinidriver(&registration);
  if (!NT_SUCCESS(status)) return status;

  for (i = 0; i <= IRP_MJ_MAXIMUM_FUNCTION; ++i) {
    class_dispatch[i] = driver->MajorFunction[i];
    if (i != IRP_MJ_INTERNAL_DEVICE_CONTROL) driver->MajorFunction[i] = dispatch_any;
  }

  RtlInitUnicodeString(&name, L"\\Device\\VirtualPendantControl");
  status = IoCreateDevice(driver, 0, &name, FILE_DEVICE_UNKNOWN, 0, FALSE, &control_device);
  if (!NT_SUCCESS(status)) {
    control_device = NULL;
    return STATUS_SUCCESS; /* the pendant works; only the test's feed is missing */
  }
  RtlInitUnicodeString(&control_link, L"\\??\\VirtualPendantControl");
  control_link_made = NT_SUCCESS(IoCreateSymbolicLink(&control_link, &name));
  control_device->Flags &= ~DO_DEVICE_INITIALIZING;
  return STATUS_SUCCESS;
}
