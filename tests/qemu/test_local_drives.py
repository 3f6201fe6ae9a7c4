"""valmora-cli reads this computer's drives through the real kernel: an
emulated NVMe controller and an ATA disk on the PIIX IDE controller, in a
QEMU guest booted from this machine's kernel.

    test_local_drives.py VALMORA_CLI [CASE...]

Each case class boots the guest once. Exit 77 when the machine cannot boot it
(QEMU, the kernel or static busybox missing), with the reason.
"""

import json
import os
import sys
import unittest

# No compiled copy of the harness in the source tree.
sys.dont_write_bytecode = True
sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import qemu_guest  # noqa: E402

CLI = None

# What QEMU's IDE disk reports: its identity and its fixed S.M.A.R.T. table
# (attribute number: current, worst, threshold).
ATA_MODEL = "QEMU HARDDISK"
ATA_SERIAL = "QM00001"
ATA_ATTRIBUTES = {1: (100, 100, 6), 3: (100, 100, 0), 4: (100, 100, 20), 5: (100, 100, 36),
                  9: (100, 100, 0), 12: (100, 100, 0), 190: (69, 69, 50)}
ATA_TEMPERATURE = 31  # attribute 190's raw value

NVME_SERIAL = "VALMORANVME01"
NVME_MODEL = "QEMU NVMe Ctrl"
NVME_FIELDS = ["CriticalWarning", "CompositeTemperature", "AvailableSpare", "AvailableSpareThreshold",
               "PercentageUsed", "DataUnitsRead", "DataUnitsWritten", "PowerCycles", "PowerOnHours",
               "UnsafeShutdowns", "MediaErrors", "ErrorLogEntries", "WarningTemperatureTime",
               "CriticalTemperatureTime"]
# QEMU's controller reports 323 K unless told otherwise.
NVME_TEMPERATURE = 50

# The words of the critical-warning bits, bit 0 first.
WARNING_BITS = ["available spare below threshold", "temperature outside its thresholds", "reliability degraded",
                "media in read-only mode", "volatile memory backup failed", "persistent memory region read-only"]

# The same log page and attribute table as the disk tools read them, where
# they are installed (nvme-cli, smartmontools).
NVME_CLI = "/usr/sbin/nvme"
SMARTCTL = "/usr/sbin/smartctl"
SETPRIV = "/usr/bin/setpriv"
NOBODY = ["--reuid=65534", "--regid=65534", "--clear-groups"]
# "Nvme" fields from `nvme smart-log -o json` (temperature in kelvin).
NVME_CLI_FIELDS = {"CriticalWarning": "critical_warning", "AvailableSpare": "avail_spare",
                   "AvailableSpareThreshold": "spare_thresh", "PercentageUsed": "percent_used",
                   "DataUnitsRead": "data_units_read", "DataUnitsWritten": "data_units_written",
                   "PowerCycles": "power_cycles", "PowerOnHours": "power_on_hours",
                   "UnsafeShutdowns": "unsafe_shutdowns", "MediaErrors": "media_errors",
                   "ErrorLogEntries": "num_err_log_entries", "WarningTemperatureTime": "warning_temp_time",
                   "CriticalTemperatureTime": "critical_comp_time"}


class GuestCase(unittest.TestCase):
    """Boots the guest with `nvme` (device properties) and `ata` once for the
    class and keeps the parsed output of `valmora-cli read localhost --json`,
    and that of the disk tools on the same drives."""

    nvme = {}
    ata = True
    # Also read as a user without rights, from device files anyone may open.
    unprivileged = False

    @classmethod
    def setUpClass(cls):
        commands = [("read", [CLI, "read", "localhost", "--json"])]
        if cls.unprivileged and os.access(SETPRIV, os.X_OK):
            commands.append(("chmod", ["/bin/chmod", "0666", "/dev/nvme0", "/dev/nvme0n1"]))
            commands.append(("unprivileged", ["/usr/bin/env", "HOME=/tmp", "VALMORA_COMMON_APPDATA=/tmp/nobody-data",
                                              "XDG_CONFIG_HOME=/tmp/nobody-config", SETPRIV] + NOBODY
                             + [CLI, "read", "localhost", "--json"]))
        if cls.nvme is not None and os.access(NVME_CLI, os.X_OK):
            commands.append(("nvme", [NVME_CLI, "smart-log", "/dev/nvme0", "-o", "json"]))
        if cls.ata and os.access(SMARTCTL, os.X_OK):
            commands.append(("smartctl", [SMARTCTL, "-A", "-j", "/dev/sda"]))
        try:
            cls.guest = qemu_guest.run(
                commands,
                env={"PATH": "/usr/sbin:/usr/bin:/sbin:/bin", "HOME": "/tmp", "LANG": "C.UTF-8",
                     "VALMORA_COMMON_APPDATA": "/tmp/data", "XDG_CONFIG_HOME": "/tmp/config",
                     "VALMORA_MACHINE_CONFIG": "/tmp/etc"},
                nvme=cls.nvme, ata=cls.ata)
        except qemu_guest.Unavailable as e:
            raise unittest.SkipTest(str(e))
        cls.cli = cls.guest.outputs["read"]
        cls.readout = cls.parsed("read")

    @classmethod
    def parsed(cls, name):
        try:
            return json.loads(cls.guest.outputs[name].stdout)
        except (KeyError, ValueError):
            return None

    def tool(self, name):
        """The JSON output of a disk tool, or a skip when it is not installed."""
        if name not in self.guest.outputs:
            self.skipTest(f"{name} is not installed")
        out = self.parsed(name)
        self.assertIsNotNone(out, f"{name} gave no JSON: {self.guest.outputs[name].stderr}")
        return out

    def setUp(self):
        self.assertIsNotNone(self.readout, self.context("the output is not JSON"))

    def context(self, what):
        c = self.cli
        return (f"{what}\nexit status {c.status}\nstdout:\n{c.stdout}\nstderr:\n{c.stderr}\n"
                f"console (end):\n{self.guest.console[-3000:]}")

    def drive(self, name):
        for d in self.readout.get("Drives", []):
            if d.get("Name") == name:
                return d
        self.fail(self.context(f"no drive {name} in the readout; the guest's disks: {self.guest.block}"))

    def assertNvmeHealth(self, drive):
        self.assertEqual(drive.get("Model"), NVME_MODEL)
        self.assertEqual(drive.get("SerialNumber"), NVME_SERIAL)
        nvme = drive.get("Nvme")
        self.assertIsInstance(nvme, dict, self.context("the NVMe drive has no \"Nvme\" object"))
        for field in NVME_FIELDS:
            self.assertIsInstance(nvme.get(field), int, f"\"Nvme\" field {field}: {nvme.get(field)!r}")
        self.assertEqual(nvme["CompositeTemperature"], NVME_TEMPERATURE)
        self.assertEqual(nvme["PercentageUsed"], 0)
        self.assertEqual(nvme["MediaErrors"], 0)
        # The kernel read the partition table: the controller counted it, in
        # units of 1000 sectors rounded up. A log page of zeros would not.
        self.assertGreaterEqual(nvme["DataUnitsRead"], 1)
        rows = drive.get("Health")
        self.assertIsInstance(rows, list, self.context("the NVMe drive has no \"Health\" rows"))
        self.assertTrue(rows, "no \"Health\" rows")
        for row in rows:
            self.assertEqual(set(row), {"Name", "Value", "State", "Reason"}, row)
            self.assertTrue(row["Name"], row)
        return nvme, rows

    def assertAtaAttributes(self):
        drive = self.drive("/dev/sda")
        self.assertEqual(drive.get("Model"), ATA_MODEL)
        self.assertEqual(drive.get("SerialNumber"), ATA_SERIAL)
        self.assertEqual(drive.get("InterfaceType"), "IDE")
        self.assertNotIn("Nvme", drive)
        read = {a["AttrId"]: (a["AttrCurrent"], a["AttrWorst"], a["AttrThreshold"])
                for a in drive.get("Attributes", [])}
        self.assertEqual(read, ATA_ATTRIBUTES, self.context("the ATA disk's attributes"))
        self.assertEqual(drive.get("AttributeCount"), len(ATA_ATTRIBUTES))
        self.assertEqual(drive.get("TemperatureCurrent"), ATA_TEMPERATURE)
        for a in drive["Attributes"]:
            if a["AttrId"] == 5:
                self.assertEqual((a["AttrRaw"], a["AttrState"]), (0, 0), a)
        return drive

    def assertNvmeLikeNvmeCli(self, drive):
        log = self.tool("nvme")
        nvme = drive.get("Nvme") or {}
        expected = {field: int(log[key]) for field, key in NVME_CLI_FIELDS.items()}
        expected["CompositeTemperature"] = int(log["temperature"]) - 273
        self.assertEqual({k: nvme.get(k) for k in expected}, expected)


class HealthyNvme(GuestCase):
    """A healthy NVMe controller alone: the computer is good."""

    nvme = {}
    ata = False
    unprivileged = True

    def test_result_is_good(self):
        self.assertEqual(self.readout.get("Result"), 0, self.context("the computer's result"))
        self.assertIsNone(self.readout.get("Error"))
        self.assertEqual(self.cli.status, 0)

    def test_health_table(self):
        drive = self.drive("/dev/nvme0n1")
        nvme, rows = self.assertNvmeHealth(drive)
        self.assertEqual(nvme["CriticalWarning"], 0)
        self.assertEqual(drive.get("Reason"), "")
        self.assertEqual([r for r in rows if r["State"] != "OK"], [], "rows of a healthy drive not OK")

    def test_fields_as_nvme_cli_reads_them(self):
        self.assertNvmeLikeNvmeCli(self.drive("/dev/nvme0n1"))

    def test_no_rights_is_said(self):
        # The kernel wants CAP_SYS_ADMIN for the log page even when the
        # device file is open to everyone: a reason, never a drive that
        # merely looks healthy or without S.M.A.R.T.
        if "unprivileged" not in self.guest.outputs:
            self.skipTest(f"{SETPRIV} is not installed")
        self.assertEqual(self.guest.outputs["chmod"].status, 0, self.guest.outputs["chmod"].stderr)
        out = self.guest.outputs["unprivileged"]
        readout = self.parsed("unprivileged")
        self.assertIsNotNone(readout, f"not JSON: {out.stdout}\n{out.stderr}")
        self.assertNotEqual(readout.get("Result"), 0, out.stdout)
        texts = [readout.get("Error") or ""] + [d.get("Reason") or "" for d in readout.get("Drives", [])]
        self.assertTrue([t for t in texts if "nvme0" in t and ("root" in t or "CAP_SYS_ADMIN" in t)],
                        f"no reason names the drive and the rights it needs: {texts}\n{out.stderr}")


class CriticalWarningNvme(GuestCase):
    """An NVMe controller reporting spare below threshold and reliability
    degraded (critical warning 0x5), beside an ATA disk."""

    nvme = {"smart_critical_warning": 0x5}
    ata = True

    def test_result_is_failing(self):
        self.assertEqual(self.readout.get("Result"), 3, self.context("the computer's result"))
        self.assertEqual(self.cli.status, 1)
        # The ATA disk is flagged too (its temperature attribute): the NVMe
        # drive must be among the flagged ones.
        self.assertIn(NVME_SERIAL, self.readout.get("Error") or "")

    def test_reasons_name_the_bits(self):
        drive = self.drive("/dev/nvme0n1")
        nvme, rows = self.assertNvmeHealth(drive)
        self.assertEqual(nvme["CriticalWarning"], 0x5)
        reason = drive.get("Reason", "")
        for bit, words in enumerate(WARNING_BITS):
            if 0x5 & (1 << bit):
                self.assertIn(words, reason)
            else:
                self.assertNotIn(words, reason)
        self.assertIn("Failing", [r["State"] for r in rows], rows)

    def test_fields_as_nvme_cli_reads_them(self):
        self.assertNvmeLikeNvmeCli(self.drive("/dev/nvme0n1"))

    def test_ata_attributes_beside_it(self):
        self.assertAtaAttributes()

    def test_ata_attributes_as_smartctl_reads_them(self):
        table = self.tool("smartctl")["ata_smart_attributes"]["table"]
        drive = self.assertAtaAttributes()
        read = [(a["AttrId"], a["AttrCurrent"], a["AttrWorst"], a["AttrThreshold"], a["AttrRaw"], a["AttrPreFailure"])
                for a in drive["Attributes"]]
        self.assertEqual(read, [(a["id"], a["value"], a["worst"], a["thresh"], a["raw"]["value"],
                                 a["flags"]["prefailure"]) for a in table])


def main(argv):
    global CLI
    if len(argv) < 2:
        print(__doc__, file=sys.stderr)
        return 2
    CLI = os.path.abspath(argv[1])
    if not os.access(CLI, os.X_OK):
        print(f"{CLI} is not a program", file=sys.stderr)
        return 2
    loader = unittest.defaultTestLoader
    module = sys.modules[__name__]
    names = argv[2:] or ["HealthyNvme", "CriticalWarningNvme"]
    suite = unittest.TestSuite(loader.loadTestsFromName(n, module) for n in names)
    result = unittest.TextTestRunner(verbosity=2).run(suite)
    if not result.wasSuccessful():
        return 1
    # A run whose every case skipped (a class that could not boot counts once,
    # without running its cases) is reported to CTest as skipped.
    return 77 if result.skipped and len(result.skipped) >= result.testsRun else 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
