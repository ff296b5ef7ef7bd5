/*
 * krnldrvr.c - the driver's entry and unload routines.
 *
 * The entry routine creates the one device object, whose extension is the
 * configuration record, gives it a DOS-visible link, installs the unload
 * routine and runs the configuration sequence once. The driver serves no
 * requests: no dispatch routine is installed.
 */
#include "krnldrvr.h"
#include "modem.h"

static const WCHAR DeviceNameText[] = u"\\Device\\slotmdm";
static const WCHAR LinkNameText[] = u"\\DosDevices\\slotmdm";

NTSTATUS NTAPI DriverEntry(PDRIVER_OBJECT DriverObject, PUNICODE_STRING RegistryPath)
{
    UNICODE_STRING DeviceName;
    UNICODE_STRING LinkName;
    PDEVICE_OBJECT DeviceObject;
    NTSTATUS Status;

    (void)RegistryPath; /* the driver's own service key is not used */

    RtlInitUnicodeString(&DeviceName, DeviceNameText);
    Status = IoCreateDevice(DriverObject, sizeof(CmExtension), &DeviceName, FILE_DEVICE_UNKNOWN,
                            0, TRUE, &DeviceObject);
    if (!NT_SUCCESS(Status))
        return Status; /* nothing has been created */

    RtlInitUnicodeString(&LinkName, LinkNameText);
    Status = IoCreateSymbolicLink(&LinkName, &DeviceName);
    if (!NT_SUCCESS(Status)) {
        IoDeleteDevice(DriverObject->DeviceObject);
        return Status;
    }

    DriverObject->DriverUnload = KdvrUnloadDriver;

    /* Whatever the sequence returns, the device object and link stay. */
    return (NTSTATUS)Cmcfg((PCmExtension)DeviceObject->DeviceExtension);
}

/*
 * Deletes the device object (the record goes with it), then the link.
 * Nothing on the controller or the card is undone: a configured card stays
 * configured for the serial driver.
 */
VOID NTAPI KdvrUnloadDriver(PDRIVER_OBJECT DriverObject)
{
    UNICODE_STRING LinkName;

    IoDeleteDevice(DriverObject->DeviceObject);
    RtlInitUnicodeString(&LinkName, LinkNameText);
    (void)IoDeleteSymbolicLink(&LinkName);
}
