/* A kernel driver for the tests that stands in for the port driver "GIVEIO": loaded as the
   service, it creates the device \\.\GIVEIO, which opens and closes, and removes it on unload.
   It grants no port I/O (Wine has no such thing to grant), so it serves to run the service steps
   of installing, starting, opening, stopping and deleting, not a download. */
#include <ddk/wdm.h>

static NTSTATUS WINAPI complete_at_once(PDEVICE_OBJECT device, PIRP irp) {
  (void)device;
  irp->IoStatus.Status = STATUS_SUCCESS;
  irp->IoStatus.Information = 0;
  IoCompleteRequest(irp, IO_NO_INCREMENT);
  return STATUS_SUCCESS;
}

static void WINAPI unload(PDRIVER_OBJECT driver) {
  UNICODE_STRING link;
  RtlInitUnicodeString(&link, L"\\DosDevices\\GIVEIO");
  IoDeleteSymbolicLink(&link);
  if (driver->DeviceObject) IoDeleteDevice(driver->DeviceObject);
}

NTSTATUS WINAPI DriverEntry(PDRIVER_OBJECT driver, PUNICODE_STRING registry_path) {
  UNICODE_STRING name, link;
  PDEVICE_OBJECT device;
  NTSTATUS status;
  (void)registry_path;
  RtlInitUnicodeString(&name, L"\\Device\\GIVEIO");
  status = IoCreateDevice(driver, 0, &name, FILE_DEVICE_UNKNOWN, 0, FALSE, &device);
  if (status != STATUS_SUCCESS) return status;
  RtlInitUnicodeString(&link, L"\\DosDevices\\GIVEIO");
  status = IoCreateSymbolicLink(&link, &name);
  if (status != STATUS_SUCCESS) {
    IoDeleteDevice(device);
    return status;
  }
  driver->MajorFunction[IRP_MJ_CREATE] = complete_at_once;
  driver->MajorFunction[IRP_MJ_CLOSE] = complete_at_once;
  driver->DriverUnload = unload;
  return STATUS_SUCCESS;
}
