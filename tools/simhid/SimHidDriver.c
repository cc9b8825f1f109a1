/* The simulated console at the driver level: a HID minidriver that plays the
 * console under the platform's own HID class driver, so that a program under
 * test reaches it through the platform's hid.dll, setupapi.dll and class
 * driver exactly as it reaches a console on USB.
 *
 * Each device is a root-enumerated device whose hardware ID ends in its slot
 * number ("qexsimhid\slot_<n>"). When the class driver adds it, the device
 * connects twice to its harness's pipe (see SimHidProtocol.h): it takes its
 * profile (ids, strings, report lengths, usage page) and then input reports
 * from the first connection, and writes every output report it receives to
 * the second.
 *
 * Built without any run-time library: only ntoskrnl and hidclass imports. */
#include <ntddk.h>

#include "SimHidProtocol.h"

/* The minidriver interface of the class driver (published in the platform's
 * driver kit documentation). */
typedef struct {
  ULONG Revision;
  PDRIVER_OBJECT DriverObject;
  PUNICODE_STRING RegistryPath;
  ULONG DeviceExtensionSize;
  BOOLEAN DevicesArePolled;
  UCHAR Reserved[3];
} MinidriverRegistration;

typedef struct {
  PDEVICE_OBJECT PhysicalDeviceObject;
  PDEVICE_OBJECT NextDeviceObject;
  PVOID MiniDeviceExtension;
} ClassDeviceExtension;

typedef struct {
  ULONG Size;
  USHORT VendorID;
  USHORT ProductID;
  USHORT VersionNumber;
  USHORT Reserved[11];
} DeviceAttributes;

#pragma pack(push, 1)
typedef struct {
  UCHAR bLength;
  UCHAR bDescriptorType;
  USHORT bcdHID;
  UCHAR bCountry;
  UCHAR bNumDescriptors;
  UCHAR bReportType;
  USHORT wReportLength;
} ClassDescriptor;
#pragma pack(pop)

typedef struct {
  PUCHAR reportBuffer;
  ULONG reportBufferLen;
  UCHAR reportId;
} HID_XFER_PACKET;

NTSTATUS NTAPI HidRegisterMinidriver(MinidriverRegistration* registration);
NTSYSAPI NTSTATUS NTAPI ZwWaitForSingleObject(HANDLE handle, BOOLEAN alertable, PLARGE_INTEGER timeout);

/* The driver kit header of this tool chain numbers these 1..5, which is not
 * what the class driver sends. */
#define SIM_IOCTL(id) CTL_CODE(FILE_DEVICE_KEYBOARD, (id), METHOD_NEITHER, FILE_ANY_ACCESS)
#define SIM_IOCTL_GET_DEVICE_DESCRIPTOR SIM_IOCTL(0)
#define SIM_IOCTL_GET_REPORT_DESCRIPTOR SIM_IOCTL(1)
#define SIM_IOCTL_READ_REPORT SIM_IOCTL(2)
#define SIM_IOCTL_WRITE_REPORT SIM_IOCTL(3)
#define SIM_IOCTL_GET_STRING SIM_IOCTL(4)
#define SIM_IOCTL_ACTIVATE_DEVICE SIM_IOCTL(7)
#define SIM_IOCTL_DEACTIVATE_DEVICE SIM_IOCTL(8)
#define SIM_IOCTL_GET_DEVICE_ATTRIBUTES SIM_IOCTL(9)

#define POOL_TAG 0x68735851u  /* "Qxsh" */
#define INPUT_QUEUE 1024  /* reports the device holds while the class driver has no read outstanding */
#define PENDING_MAX 8     /* read or write requests held at once */

typedef struct {
  SimHidConfig config;
  int slot;
  HANDLE commands;        /* pipe connection the harness commands on */
  HANDLE output;          /* pipe connection output reports go to */
  HANDLE reader;          /* thread reading the commands */
  volatile LONG lock;       /* the queues, the pending requests, the flags */
  volatile LONG outputLock; /* one frame at a time on the output connection */
  BOOLEAN removed;
  BOOLEAN stallWrites;
  volatile LONG cancelWritesAfterMs; /* 0: writes are not held for a cancel */
  UCHAR descriptor[64];
  USHORT descriptorLength;
  UCHAR* queue;           /* INPUT_QUEUE reports of inputLength bytes, ID first */
  ULONG queueHead;
  ULONG queueCount;
  ULONG dropped;
  ULONG completed;        /* input reports completed to the class driver's reads */
  PIRP reads[PENDING_MAX];
  PIRP writes[PENDING_MAX];
  UCHAR frame[SIMHID_MAX_FRAME];
} Device;

static Device* DeviceOf(PDEVICE_OBJECT object) {
  return (Device*)((ClassDeviceExtension*)object->DeviceExtension)->MiniDeviceExtension;
}

static void CopyBytes(void* to, const void* from, ULONG count) {
  UCHAR* t = (UCHAR*)to;
  const UCHAR* f = (const UCHAR*)from;
  while (count--) *t++ = *f++;
}

static void ZeroBytes(void* to, ULONG count) {
  UCHAR* t = (UCHAR*)to;
  while (count--) *t++ = 0;
}

/* A plain lock of our own: the platform's mutex objects, taken by the class
 * driver's read thread and our command reader at once, left a waiter
 * blocked for good under Wine. Held only for a few instructions or one
 * frame's write. */
static void Lock(volatile LONG* lock) {
  int spins = 0;
  while (InterlockedCompareExchange(lock, 1, 0) != 0) {
    LARGE_INTEGER pause;
    pause.QuadPart = ++spins < 100 ? 0 : -10000LL; /* then 1 ms */
    KeDelayExecutionThread(KernelMode, FALSE, &pause);
  }
}
static void Unlock(volatile LONG* lock) { InterlockedExchange(lock, 0); }

/* --- the pipe ------------------------------------------------------------ */

static NTSTATUS OpenPipe(int slot, HANDLE* handle) {
  WCHAR name[48] = L"\\??\\pipe\\" L"" SIMHID_PIPE_PREFIX;
  UNICODE_STRING path;
  OBJECT_ATTRIBUTES attributes;
  IO_STATUS_BLOCK io;
  int length = 0;
  while (name[length]) ++length;
  if (slot >= 10) name[length++] = (WCHAR)(L'0' + slot / 10);
  name[length++] = (WCHAR)(L'0' + slot % 10);
  name[length] = 0;
  RtlInitUnicodeString(&path, name);
  InitializeObjectAttributes(&attributes, &path, OBJ_CASE_INSENSITIVE | OBJ_KERNEL_HANDLE, NULL, NULL);
  /* The harness may be between two connections (a replug right after an
   * unplug): try again for a while. */
  for (int attempt = 0;; ++attempt) {
    LARGE_INTEGER pause;
    NTSTATUS status = ZwCreateFile(handle, GENERIC_READ | GENERIC_WRITE | SYNCHRONIZE, &attributes, &io, NULL, 0, 0,
                                   FILE_OPEN, FILE_SYNCHRONOUS_IO_NONALERT | FILE_NON_DIRECTORY_FILE, NULL, 0);
    if (NT_SUCCESS(status) || attempt == 100) return status;
    pause.QuadPart = -200000LL; /* 20 ms */
    KeDelayExecutionThread(KernelMode, FALSE, &pause);
  }
}

static NTSTATUS ReadExactly(HANDLE pipe, void* buffer, ULONG count) {
  UCHAR* at = (UCHAR*)buffer;
  while (count) {
    IO_STATUS_BLOCK io;
    NTSTATUS status = ZwReadFile(pipe, NULL, NULL, NULL, &io, at, count, NULL, NULL);
    if (status == STATUS_BUFFER_OVERFLOW) status = STATUS_SUCCESS;  /* a message read in parts */
    if (!NT_SUCCESS(status)) return status;
    if (io.Information == 0 || io.Information > count) return STATUS_PIPE_BROKEN;
    at += io.Information;
    count -= (ULONG)io.Information;
  }
  return STATUS_SUCCESS;
}

/* Reads one frame into `frame`: its kind, and the payload length. */
static NTSTATUS ReadFrame(HANDLE pipe, UCHAR* frame, ULONG capacity, UCHAR* kind, ULONG* length) {
  ULONG size = 0;
  NTSTATUS status = ReadExactly(pipe, &size, sizeof size);
  if (!NT_SUCCESS(status)) return status;
  if (size < 1 || size > capacity) return STATUS_INVALID_NETWORK_RESPONSE;
  status = ReadExactly(pipe, frame, size);
  if (!NT_SUCCESS(status)) return status;
  *kind = frame[0];
  *length = size - 1;
  return STATUS_SUCCESS;
}

static NTSTATUS WriteFrame(HANDLE pipe, UCHAR kind, const void* payload, ULONG length, UCHAR* scratch) {
  IO_STATUS_BLOCK io;
  ULONG size = length + 1;
  CopyBytes(scratch, &size, sizeof size);
  scratch[4] = kind;
  CopyBytes(scratch + 5, payload, length);
  return ZwWriteFile(pipe, NULL, NULL, NULL, &io, scratch, length + 5, NULL, NULL);
}

/* --- the report descriptor ---------------------------------------------- */

static USHORT PutItem(UCHAR* at, UCHAR tag, ULONG value) {
  /* short items with the smallest size that holds the value */
  if (value <= 0xFF) {
    at[0] = (UCHAR)(tag | 1);
    at[1] = (UCHAR)value;
    return 2;
  }
  at[0] = (UCHAR)(tag | 2);
  at[1] = (UCHAR)value;
  at[2] = (UCHAR)(value >> 8);
  return 3;
}

static void BuildDescriptor(Device* device) {
  const SimHidConfig* c = &device->config;
  UCHAR* d = device->descriptor;
  USHORT n = 0;
  d[n++] = 0x06;  /* usage page, two bytes */
  d[n++] = (UCHAR)c->usagePage;
  d[n++] = (UCHAR)(c->usagePage >> 8);
  n += PutItem(d + n, 0x08, c->usage);       /* usage */
  d[n++] = 0xA1; d[n++] = 0x01;              /* collection (application) */
  if (c->reportId) n += PutItem(d + n, 0x84, c->reportId);
  n += PutItem(d + n, 0x14, 0);              /* logical minimum */
  d[n++] = 0x26; d[n++] = 0xFF; d[n++] = 0x00;  /* logical maximum 255 */
  n += PutItem(d + n, 0x74, 8);              /* report size: bytes */
  if (c->inputLength > 1) {
    n += PutItem(d + n, 0x08, 1);
    n += PutItem(d + n, 0x94, c->inputLength - 1u);  /* report count */
    d[n++] = 0x81; d[n++] = 0x02;            /* input (data, variable, absolute) */
  }
  if (c->outputLength > 1) {
    n += PutItem(d + n, 0x08, 2);
    n += PutItem(d + n, 0x94, c->outputLength - 1u);
    d[n++] = 0x91; d[n++] = 0x02;            /* output (data, variable, absolute) */
  }
  d[n++] = 0xC0;                             /* end collection */
  device->descriptorLength = n;
}

/* --- requests held by the device ----------------------------------------- */

static void CompleteRequest(PIRP irp, NTSTATUS status, ULONG_PTR information) {
  irp->IoStatus.Status = status;
  irp->IoStatus.Information = information;
  IoCompleteRequest(irp, IO_NO_INCREMENT);
}

static VOID NTAPI CancelHeld(PDEVICE_OBJECT object, PIRP irp) {
  Device* device = DeviceOf(object);
  BOOLEAN found = FALSE;
  int i;
  IoReleaseCancelSpinLock(irp->CancelIrql);
  Lock(&device->lock);
  for (i = 0; i < PENDING_MAX; ++i) {
    if (device->reads[i] == irp) { device->reads[i] = NULL; found = TRUE; }
    if (device->writes[i] == irp) { device->writes[i] = NULL; found = TRUE; }
  }
  Unlock(&device->lock);
  /* Not found: whoever took it out completes it. */
  if (found) CompleteRequest(irp, STATUS_CANCELLED, 0);
}

/* Under the lock. False when every slot is taken. */
static BOOLEAN Hold(PIRP* slots, PIRP irp) {
  int i;
  for (i = 0; i < PENDING_MAX; ++i) {
    if (!slots[i]) {
      slots[i] = irp;
      IoMarkIrpPending(irp);
      IoSetCancelRoutine(irp, CancelHeld);
      return TRUE;
    }
  }
  return FALSE;
}

/* Under the lock: the oldest held request that is not being cancelled. */
static PIRP TakeHeld(PIRP* slots, BOOLEAN* cancelled) {
  int i;
  *cancelled = FALSE;
  for (i = 0; i < PENDING_MAX; ++i) {
    if (slots[i]) {
      PIRP irp = slots[i];
      slots[i] = NULL;
      if (IoSetCancelRoutine(irp, NULL) == NULL) *cancelled = TRUE;  /* its cancel routine finds nothing */
      return irp;
    }
  }
  return NULL;
}

static ULONG ReportPayload(const Device* device, const UCHAR* report, ULONG length, UCHAR* out, ULONG capacity) {
  /* Without report IDs the device sends the bytes after the ID byte; the
   * class driver puts the 0 in front. */
  const UCHAR* from = device->config.reportId ? report : report + 1;
  ULONG count = device->config.reportId ? length : length - 1;
  if (count > capacity) count = capacity;
  CopyBytes(out, from, count);
  return count;
}

static void DeliverInput(Device* device, const UCHAR* report, ULONG length) {
  const ULONG size = device->config.inputLength;
  UCHAR* slot;
  BOOLEAN cancelled;
  PIRP irp;
  if (length > size) length = size;
  Lock(&device->lock);
  if (device->removed) {
    Unlock(&device->lock);
    return;
  }
  for (;;) {
    irp = TakeHeld(device->reads, &cancelled);
    if (!irp || !cancelled) break;
    CompleteRequest(irp, STATUS_CANCELLED, 0);
  }
  if (irp) {
    PIO_STACK_LOCATION stack = IoGetCurrentIrpStackLocation(irp);
    UCHAR padded[SIMHID_MAX_REPORT];
    ULONG count;
    ZeroBytes(padded, size);
    CopyBytes(padded, report, length);
    count = ReportPayload(device, padded, size, (UCHAR*)irp->UserBuffer,
                          stack->Parameters.DeviceIoControl.OutputBufferLength);
    ++device->completed;
    Unlock(&device->lock);
    CompleteRequest(irp, STATUS_SUCCESS, count);
    return;
  }
  if (device->queueCount == INPUT_QUEUE) {
    /* A device's own buffer is small and drops the oldest report; the
     * harness is told which, so that a test tells the stack's losses from
     * the program's. */
    UCHAR oldest[SIMHID_MAX_REPORT];
    CopyBytes(oldest, device->queue + device->queueHead * size, size);
    device->queueHead = (device->queueHead + 1) % INPUT_QUEUE;
    --device->queueCount;
    ++device->dropped;
    slot = device->queue + ((device->queueHead + device->queueCount) % INPUT_QUEUE) * size;
    ZeroBytes(slot, size);
    CopyBytes(slot, report, length);
    ++device->queueCount;
    Unlock(&device->lock);
    Lock(&device->outputLock);
    if (device->output) WriteFrame(device->output, SIMHID_DROPPED, oldest, size, device->frame);
    Unlock(&device->outputLock);
    return;
  }
  slot = device->queue + ((device->queueHead + device->queueCount) % INPUT_QUEUE) * size;
  ZeroBytes(slot, size);
  CopyBytes(slot, report, length);
  ++device->queueCount;
  Unlock(&device->lock);
}

static void WriteOutput(Device* device, const UCHAR* report, ULONG length) {
  Lock(&device->outputLock);
  if (device->output) WriteFrame(device->output, SIMHID_OUTPUT, report, length, device->frame);
  Unlock(&device->outputLock);
}

/* The output report of a write request, ID first and as long as the device's
 * output report, into `report`; its length. */
static ULONG OutputReportOf(const Device* device, const HID_XFER_PACKET* packet, UCHAR* report) {
  ULONG length = packet->reportBufferLen;
  const ULONG size = device->config.outputLength;
  if (length > SIMHID_MAX_REPORT - 1) length = SIMHID_MAX_REPORT - 1;
  if (length + 1 == size) {
    /* the class driver left the ID byte out */
    report[0] = packet->reportId;
    CopyBytes(report + 1, packet->reportBuffer, length);
    return length + 1;
  }
  CopyBytes(report, packet->reportBuffer, length);
  return length;
}

static void ReleaseWrites(Device* device, NTSTATUS status) {
  for (;;) {
    BOOLEAN cancelled;
    PIRP irp;
    Lock(&device->lock);
    irp = TakeHeld(device->writes, &cancelled);
    Unlock(&device->lock);
    if (!irp) return;
    if (cancelled) {
      CompleteRequest(irp, STATUS_CANCELLED, 0);
    } else if (NT_SUCCESS(status)) {
      const HID_XFER_PACKET* packet = (const HID_XFER_PACKET*)irp->UserBuffer;
      UCHAR report[SIMHID_MAX_REPORT];
      const ULONG length = OutputReportOf(device, packet, report);
      WriteOutput(device, report, length);
      CompleteRequest(irp, STATUS_SUCCESS, length);
    } else {
      CompleteRequest(irp, status, 0);
    }
  }
}

static void FailReads(Device* device) {
  for (;;) {
    BOOLEAN cancelled;
    PIRP irp;
    Lock(&device->lock);
    irp = TakeHeld(device->reads, &cancelled);
    Unlock(&device->lock);
    if (!irp) return;
    CompleteRequest(irp, cancelled ? STATUS_CANCELLED : STATUS_DEVICE_NOT_CONNECTED, 0);
  }
}

/* --- the command reader -------------------------------------------------- */

static VOID NTAPI ReadCommands(PVOID context) {
  Device* device = (Device*)context;
  for (;;) {
    UCHAR frame[SIMHID_MAX_FRAME];
    UCHAR kind = 0;
    ULONG length = 0;
    NTSTATUS status = ReadFrame(device->commands, frame, sizeof frame, &kind, &length);
    if (!NT_SUCCESS(status)) {
      DbgPrint("qexsimhid: slot %d command reader ends: %08x\n", device->slot, status);
      break;
    }
    if (kind == SIMHID_EXIT) break;
    if (kind == SIMHID_INPUT && length > 0) {
      DeliverInput(device, frame + 1, length);
    } else if (kind == SIMHID_CANCEL_WRITES && length == sizeof(LONG)) {
      LONG ms;
      CopyBytes(&ms, frame + 1, sizeof ms);
      InterlockedExchange(&device->cancelWritesAfterMs, ms < 0 ? 0 : ms);
    } else if (kind == SIMHID_QUERY) {
      SimHidCounts counts;
      Lock(&device->lock);
      counts.completed = device->completed;
      counts.dropped = device->dropped;
      counts.queued = device->queueCount;
      Unlock(&device->lock);
      Lock(&device->outputLock);
      if (device->output) WriteFrame(device->output, SIMHID_COUNTS, &counts, sizeof counts, device->frame);
      Unlock(&device->outputLock);
    } else if (kind == SIMHID_STALL_WRITES && length == 1) {
      Lock(&device->lock);
      device->stallWrites = frame[1] != 0;
      Unlock(&device->lock);
      if (!frame[1]) ReleaseWrites(device, STATUS_SUCCESS);
    }
  }
  PsTerminateSystemThread(STATUS_SUCCESS);
}

/* --- internal device control --------------------------------------------- */

static ULONG CopyString(const unsigned short* text, PVOID out, ULONG capacity) {
  ULONG count = 0;
  while (text[count]) ++count;
  if ((count + 1) * sizeof(WCHAR) > capacity) return 0;
  CopyBytes(out, text, (count + 1) * sizeof(WCHAR));
  return (count + 1) * sizeof(WCHAR);
}

static NTSTATUS GetString(Device* device, PIRP irp, PIO_STACK_LOCATION stack) {
  const ULONG id = (ULONG)(ULONG_PTR)stack->Parameters.DeviceIoControl.Type3InputBuffer & 0xFFFF;
  const ULONG capacity = stack->Parameters.DeviceIoControl.OutputBufferLength;
  const unsigned short* text = NULL;
  ULONG written;
  /* Either numbering of the string ids: 1..3, or 14..16. */
  if (id == 1 || id == 14) text = device->config.manufacturer;
  else if ((id == 2 || id == 15) && device->config.productReadable) text = device->config.product;
  else if (id == 3 || id == 16) text = device->config.serial;
  if (!text) {
    irp->IoStatus.Information = 0;
    return STATUS_INVALID_PARAMETER;
  }
  written = CopyString(text, irp->UserBuffer, capacity);
  irp->IoStatus.Information = written;
  return written ? STATUS_SUCCESS : STATUS_BUFFER_TOO_SMALL;
}

static NTSTATUS NTAPI InternalControl(PDEVICE_OBJECT object, PIRP irp) {
  Device* device = DeviceOf(object);
  PIO_STACK_LOCATION stack = IoGetCurrentIrpStackLocation(irp);
  const ULONG capacity = stack->Parameters.DeviceIoControl.OutputBufferLength;
  NTSTATUS status = STATUS_SUCCESS;
  irp->IoStatus.Information = 0;

  switch (stack->Parameters.DeviceIoControl.IoControlCode) {
    case SIM_IOCTL_GET_DEVICE_DESCRIPTOR: {
      ClassDescriptor descriptor;
      if (capacity < sizeof descriptor) { status = STATUS_BUFFER_TOO_SMALL; break; }
      descriptor.bLength = sizeof descriptor;
      descriptor.bDescriptorType = 0x21;
      descriptor.bcdHID = 0x0111;
      descriptor.bCountry = 0;
      descriptor.bNumDescriptors = 1;
      descriptor.bReportType = 0x22;
      descriptor.wReportLength = device->descriptorLength;
      CopyBytes(irp->UserBuffer, &descriptor, sizeof descriptor);
      irp->IoStatus.Information = sizeof descriptor;
      break;
    }
    case SIM_IOCTL_GET_REPORT_DESCRIPTOR:
      if (capacity < device->descriptorLength) { status = STATUS_BUFFER_TOO_SMALL; break; }
      CopyBytes(irp->UserBuffer, device->descriptor, device->descriptorLength);
      irp->IoStatus.Information = device->descriptorLength;
      break;
    case SIM_IOCTL_GET_DEVICE_ATTRIBUTES: {
      DeviceAttributes attributes;
      if (capacity < sizeof attributes) { status = STATUS_BUFFER_TOO_SMALL; break; }
      ZeroBytes(&attributes, sizeof attributes);
      attributes.Size = sizeof attributes;
      attributes.VendorID = device->config.vendorId;
      attributes.ProductID = device->config.productId;
      attributes.VersionNumber = device->config.versionNumber;
      CopyBytes(irp->UserBuffer, &attributes, sizeof attributes);
      irp->IoStatus.Information = sizeof attributes;
      break;
    }
    case SIM_IOCTL_GET_STRING:
      status = GetString(device, irp, stack);
      break;
    case SIM_IOCTL_ACTIVATE_DEVICE:
    case SIM_IOCTL_DEACTIVATE_DEVICE:
      break;
    case SIM_IOCTL_READ_REPORT: {
      const ULONG size = device->config.inputLength;
      Lock(&device->lock);
      if (device->removed) {
        LARGE_INTEGER pause;
        Unlock(&device->lock);
        /* The class driver asks again at once after a failed read; under
         * Wine its read thread can then reach the device while it is being
         * deleted. A gone device answers slowly, as hardware does. */
        pause.QuadPart = -200000LL; /* 20 ms */
        KeDelayExecutionThread(KernelMode, FALSE, &pause);
        status = STATUS_DEVICE_NOT_CONNECTED;
        break;
      }
      if (device->queueCount > 0) {
        const UCHAR* report = device->queue + device->queueHead * size;
        irp->IoStatus.Information = ReportPayload(device, report, size, (UCHAR*)irp->UserBuffer, capacity);
        device->queueHead = (device->queueHead + 1) % INPUT_QUEUE;
        --device->queueCount;
        ++device->completed;
        Unlock(&device->lock);
        break;
      }
      if (Hold(device->reads, irp)) {
        Unlock(&device->lock);
        return STATUS_PENDING;
      }
      Unlock(&device->lock);
      status = STATUS_DEVICE_BUSY;
      break;
    }
    case SIM_IOCTL_WRITE_REPORT: {
      const HID_XFER_PACKET* packet = (const HID_XFER_PACKET*)irp->UserBuffer;
      UCHAR report[SIMHID_MAX_REPORT];
      ULONG length;
      if (!packet || !packet->reportBuffer) { status = STATUS_INVALID_PARAMETER; break; }
      Lock(&device->lock);
      if (device->removed) {
        Unlock(&device->lock);
        status = STATUS_DEVICE_NOT_CONNECTED;
        break;
      }
      if (device->cancelWritesAfterMs) {
        /* A console that holds every report and completes a cancel at once.
         * The class driver passes no cancel of a write down to us (a held
         * write's cancel never completes, see stallWrites), so the device
         * completes the write as cancelled once the writer has given up on
         * it: the writer sees its cancel complete at once. */
        LARGE_INTEGER pause;
        pause.QuadPart = -10000LL * device->cancelWritesAfterMs;
        Unlock(&device->lock);
        KeDelayExecutionThread(KernelMode, FALSE, &pause);
        status = STATUS_CANCELLED;
        break;
      }
      if (device->stallWrites) {
        /* A console that stops taking reports: the request stays with the
         * device until it takes reports again, is removed or the request is
         * cancelled. */
        if (Hold(device->writes, irp)) {
          Unlock(&device->lock);
          return STATUS_PENDING;
        }
        Unlock(&device->lock);
        status = STATUS_DEVICE_BUSY;
        break;
      }
      Unlock(&device->lock);
      length = OutputReportOf(device, packet, report);
      WriteOutput(device, report, length);
      irp->IoStatus.Information = length;
      break;
    }
    default:
      status = STATUS_NOT_SUPPORTED;
      break;
  }
  irp->IoStatus.Status = status;
  IoCompleteRequest(irp, IO_NO_INCREMENT);
  return status;
}

/* --- plug and play ------------------------------------------------------- */

static void Teardown(Device* device) {
  Lock(&device->lock);
  device->removed = TRUE;
  Unlock(&device->lock);
  FailReads(device);
  ReleaseWrites(device, STATUS_DEVICE_NOT_CONNECTED);
  if (device->reader) {
    LARGE_INTEGER bound;
    /* The harness answers "gone" with "exit", which ends the reader. */
    Lock(&device->outputLock);
    if (device->output) WriteFrame(device->output, SIMHID_GONE, NULL, 0, device->frame);
    Unlock(&device->outputLock);
    bound.QuadPart = -30000000LL;  /* 3 s */
    ZwWaitForSingleObject(device->reader, FALSE, &bound);
    ZwClose(device->reader);
    device->reader = NULL;
  }
  Lock(&device->outputLock);
  if (device->output) ZwClose(device->output);
  device->output = NULL;
  Unlock(&device->outputLock);
  if (device->commands) ZwClose(device->commands);
  device->commands = NULL;
  if (device->queue) ExFreePoolWithTag(device->queue, POOL_TAG);
  device->queue = NULL;
}

static NTSTATUS NTAPI Pnp(PDEVICE_OBJECT object, PIRP irp) {
  Device* device = DeviceOf(object);
  ClassDeviceExtension* ext = (ClassDeviceExtension*)object->DeviceExtension;
  PIO_STACK_LOCATION stack = IoGetCurrentIrpStackLocation(irp);
  switch (stack->MinorFunction) {
    case IRP_MN_SURPRISE_REMOVAL:
      Lock(&device->lock);
      device->removed = TRUE;
      Unlock(&device->lock);
      FailReads(device);
      ReleaseWrites(device, STATUS_DEVICE_NOT_CONNECTED);
      irp->IoStatus.Status = STATUS_SUCCESS;
      break;
    case IRP_MN_REMOVE_DEVICE:
      Teardown(device);
      irp->IoStatus.Status = STATUS_SUCCESS;
      break;
    case IRP_MN_START_DEVICE:
    case IRP_MN_QUERY_REMOVE_DEVICE:
    case IRP_MN_CANCEL_REMOVE_DEVICE:
    case IRP_MN_STOP_DEVICE:
    case IRP_MN_QUERY_STOP_DEVICE:
    case IRP_MN_CANCEL_STOP_DEVICE:
      irp->IoStatus.Status = STATUS_SUCCESS;
      break;
    default:
      break;
  }
  IoSkipCurrentIrpStackLocation(irp);
  return IoCallDriver(ext->NextDeviceObject, irp);
}

static NTSTATUS NTAPI Power(PDEVICE_OBJECT object, PIRP irp) {
  ClassDeviceExtension* ext = (ClassDeviceExtension*)object->DeviceExtension;
  PoStartNextPowerIrp(irp);
  IoSkipCurrentIrpStackLocation(irp);
  return PoCallDriver(ext->NextDeviceObject, irp);
}

/* The slot is the number after the last '_' of the first hardware ID
 * ("qexsimhid\slot_<n>"); 0 when there is none. */
static int SlotOf(PDEVICE_OBJECT pdo) {
  WCHAR ids[256];
  ULONG length = 0;
  int slot = 0, i, last = -1;
  ZeroBytes(ids, sizeof ids);
  if (!NT_SUCCESS(IoGetDeviceProperty(pdo, DevicePropertyHardwareID, sizeof ids - sizeof(WCHAR), ids, &length)))
    return 0;
  for (i = 0; ids[i]; ++i)
    if (ids[i] == L'_') last = i;
  if (last < 0) return 0;
  for (i = last + 1; ids[i] >= L'0' && ids[i] <= L'9'; ++i) slot = slot * 10 + (ids[i] - L'0');
  return slot > 0 && slot <= SIMHID_MAX_SLOTS ? slot : 0;
}

static NTSTATUS Connect(Device* device) {
  UCHAR hello;
  UCHAR kind = 0;
  ULONG length = 0;
  NTSTATUS status = OpenPipe(device->slot, &device->commands);
  if (!NT_SUCCESS(status)) return status;
  status = WriteFrame(device->commands, SIMHID_HELLO_COMMANDS, &hello, 0, device->frame);
  if (!NT_SUCCESS(status)) return status;
  status = ReadFrame(device->commands, device->frame, sizeof device->frame, &kind, &length);
  if (!NT_SUCCESS(status)) return status;
  if (kind != SIMHID_CONFIG || length != sizeof(SimHidConfig)) return STATUS_INVALID_NETWORK_RESPONSE;
  CopyBytes(&device->config, device->frame + 1, sizeof(SimHidConfig));
  if (device->config.inputLength < 1 || device->config.inputLength > SIMHID_MAX_REPORT ||
      device->config.outputLength > SIMHID_MAX_REPORT)
    return STATUS_INVALID_PARAMETER;
  status = OpenPipe(device->slot, &device->output);
  if (!NT_SUCCESS(status)) return status;
  return WriteFrame(device->output, SIMHID_HELLO_OUTPUT, &hello, 0, device->frame);
}

static NTSTATUS NTAPI AddDevice(PDRIVER_OBJECT driver, PDEVICE_OBJECT fdo) {
  ClassDeviceExtension* ext = (ClassDeviceExtension*)fdo->DeviceExtension;
  Device* device = (Device*)ext->MiniDeviceExtension;
  NTSTATUS status;
  (void)driver;
  ZeroBytes(device, sizeof *device);
  device->slot = SlotOf(ext->PhysicalDeviceObject);
  DbgPrint("qexsimhid: adding slot %d\n", device->slot);
  if (!device->slot) return STATUS_NO_SUCH_DEVICE;
  status = Connect(device);
  if (NT_SUCCESS(status)) {
    device->queue = (UCHAR*)ExAllocatePoolWithTag(NonPagedPool, INPUT_QUEUE * device->config.inputLength, POOL_TAG);
    if (!device->queue) status = STATUS_INSUFFICIENT_RESOURCES;
  }
  if (NT_SUCCESS(status)) status = PsCreateSystemThread(&device->reader, THREAD_ALL_ACCESS, NULL, NULL, NULL,
                                                        ReadCommands, device);
  if (!NT_SUCCESS(status)) {
    DbgPrint("qexsimhid: slot %d failed to connect: %08x\n", device->slot, status);
    device->reader = NULL;
    Teardown(device);
    return status;
  }
  BuildDescriptor(device);
  fdo->Flags &= ~DO_DEVICE_INITIALIZING;
  return STATUS_SUCCESS;
}

static VOID NTAPI Unload(PDRIVER_OBJECT driver) { (void)driver; }

NTSTATUS NTAPI DriverEntry(PDRIVER_OBJECT driver, PUNICODE_STRING registryPath) {
  MinidriverRegistration registration;
  driver->MajorFunction[IRP_MJ_INTERNAL_DEVICE_CONTROL] = InternalControl;
  driver->MajorFunction[IRP_MJ_PNP] = Pnp;
  driver->MajorFunction[IRP_MJ_POWER] = Power;
  driver->DriverExtension->AddDevice = AddDevice;
  driver->DriverUnload = Unload;
  ZeroBytes(&registration, sizeof registration);
  registration.Revision = 1;  /* HID_REVISION */
  registration.DriverObject = driver;
  registration.RegistryPath = registryPath;
  registration.DeviceExtensionSize = sizeof(Device);
  registration.DevicesArePolled = FALSE;
  return HidRegisterMinidriver(&registration);
}
