/*
 * ACPI table for the qemu smoke test (qemu_smoke.sh, compiled with iasl):
 * a PC has no device tree, so the two devices kx-pps drives are described
 * through ACPI's PRP0001 (match by "compatible", properties from _DSD):
 *
 *   GPS0  the GPS receiver, a serial device on the second UART (COM2,
 *         ttyS1), bound by the serdev driver "pps-uart-serdev"
 *   PPST  the PPS timer device "gtop,ppstimer", probed by the platform
 *         driver "pps"; it names no MACs, so its probe defers
 */
DefinitionBlock ("", "SSDT", 2, "KX", "KXGPS", 1)
{
    External (\_SB.PCI0.SF8.COM2, DeviceObj)

    Scope (\_SB)
    {
        Device (GPS0)
        {
            Name (_HID, "PRP0001")
            Name (_UID, 0)
            Name (_CRS, ResourceTemplate ()
            {
                UartSerialBusV2 (9600, DataBitsEight, StopBitsOne, 0x00,
                    LittleEndian, ParityTypeNone, FlowControlNone,
                    0x0020, 0x0020, "\\_SB.PCI0.SF8.COM2",
                    0x00, ResourceConsumer, , Exclusive, )
            })
            Name (_DSD, Package ()
            {
                ToUUID ("daffd814-6eba-4d8c-8a91-bc9bbf4aa301"),
                Package ()
                {
                    Package () { "compatible", "quellon,pps-uart" },
                    Package () { "current-speed", 9600 },
                }
            })
        }

        Device (PPST)
        {
            Name (_HID, "PRP0001")
            Name (_UID, 1)
            Name (_DSD, Package ()
            {
                ToUUID ("daffd814-6eba-4d8c-8a91-bc9bbf4aa301"),
                Package ()
                {
                    Package () { "compatible", "gtop,ppstimer" },
                }
            })
        }
    }
}
