#!/usr/bin/env python3
"""Writes a small recorded network: one JSON recording per computer, in the form
the drive reader's recording provider answers from (see src/platform/WmiRecordings.h).

    tools/make-recordings.py FOLDER

Computers: GOODPC (one healthy drive), FLAGGEDPC (a healthy drive and one whose
reallocated sectors fell below the threshold), NOSMARTPC (drives, but no
S.M.A.R.T. data), RPCPC (management instrumentation unavailable).
"""
import json
import os
import sys

PREFAIL = 0x0003  # pre-failure, online


def sector(entries, thresholds=False):
    """A 512-byte SMART READ DATA (or READ THRESHOLDS) sector."""
    data = bytearray(512)
    data[0:2] = (0x10).to_bytes(2, "little")
    for n, e in enumerate(entries):
        off = 2 + 12 * n
        if thresholds:
            data[off] = e["id"]
            data[off + 1] = e["thr"]
        else:
            data[off] = e["id"]
            data[off + 1:off + 3] = e.get("flags", PREFAIL).to_bytes(2, "little")
            data[off + 3] = e["cur"]
            data[off + 4] = e["worst"]
            data[off + 5:off + 11] = e["raw"].to_bytes(6, "little")
    data[511] = (-sum(data[:511])) & 0xFF
    return list(data)


def temperature(current, low, worst):
    return current | (low << 16) | (worst << 32)


def healthy_attributes(hours, cycles, temp):
    return [
        {"id": 1, "cur": 100, "worst": 100, "raw": 0, "thr": 51},
        {"id": 5, "cur": 100, "worst": 100, "raw": 0, "thr": 36},
        {"id": 9, "cur": 95, "worst": 95, "raw": hours, "thr": 0, "flags": 0x0032},
        {"id": 12, "cur": 99, "worst": 99, "raw": cycles, "thr": 0, "flags": 0x0032},
        {"id": 194, "cur": 65, "worst": 50, "raw": temp, "thr": 0, "flags": 0x0022},
        {"id": 197, "cur": 100, "worst": 100, "raw": 0, "thr": 0, "flags": 0x0012},
    ]


def drive(index, model, serial, size, attributes):
    pnp = f"IDE\\DISK{model.replace(' ', '_')}\\{index}"
    return {
        "media": {"Tag": f"\\\\.\\PHYSICALDRIVE{index}", "SerialNumber": serial},
        "disk": {
            "DeviceId": f"\\\\.\\PHYSICALDRIVE{index}", "Model": model, "Name": f"\\\\.\\PHYSICALDRIVE{index}",
            "Manufacturer": "(Standard disk drives)", "PNPDeviceID": pnp, "Size": size, "Status": "OK",
            "InterfaceType": "IDE", "MediaType": "Fixed hard disk media", "BytesPerSector": 512,
            "FirmwareRevision": "01.01A01", "Partitions": 2, "SectorsPerTrack": 63, "TotalCylinders": 60801,
            "TotalHeads": 255, "TotalSectors": size // 512, "TotalTracks": 15504255, "TracksPerCylinder": 255,
        },
        "data": {"InstanceName": pnp + "_0", "Length": 512, "VendorSpecific": sector(attributes)},
        "thresholds": {"InstanceName": pnp + "_0", "VendorSpecific": sector(attributes, thresholds=True)},
    }


def recording(name, drives, cimv2_error=None, wmi_error=None):
    cimv2 = {"ConnectError": cimv2_error} if cimv2_error else {"Classes": {
        "Win32_PhysicalMedia": [d["media"] for d in drives],
        "Win32_DiskDrive": [d["disk"] for d in drives],
    }}
    wmi = {"ConnectError": wmi_error} if wmi_error else {"Classes": {
        "MSStorageDriver_FailurePredictData": [d["data"] for d in drives],
        "MSStorageDriver_FailurePredictThresholds": [d["thresholds"] for d in drives],
    }}
    return {"ComputerName": name, "Namespaces": {"root\\CIMV2": cimv2, "root\\WMI": wmi}}


def network():
    failing = healthy_attributes(21000, 900, temperature(41, 18, 52))
    failing[1] = {"id": 5, "cur": 20, "worst": 20, "raw": 1850, "thr": 36}
    return {
        "GOODPC": recording("GOODPC", [
            drive(0, "VM-DISK 500", "  S1GOOD0001", 500107862016, healthy_attributes(6000, 42, temperature(35, 20, 45))),
        ]),
        "FLAGGEDPC": recording("FLAGGEDPC", [
            drive(0, "VM-DISK 1000", "S2OK0002", 1000204886016, healthy_attributes(12000, 300, temperature(38, 22, 47))),
            drive(1, "VM-DISK 2000", "S3FAIL0003", 2000398934016, failing),
        ]),
        "NOSMARTPC": recording("NOSMARTPC", [
            drive(0, "VM-DISK 250", "S4NOSMART", 250059350016, healthy_attributes(100, 10, temperature(30, 25, 33))),
        ], wmi_error="The RPC server is unavailable"),
        "RPCPC": recording("RPCPC", [], cimv2_error="The RPC server is unavailable"),
    }


def main():
    if len(sys.argv) != 2:
        print(__doc__, file=sys.stderr)
        return 2
    folder = sys.argv[1]
    os.makedirs(folder, exist_ok=True)
    for name, rec in network().items():
        with open(os.path.join(folder, name + ".json"), "w") as f:
            json.dump(rec, f, indent=1)
            f.write("\n")
    return 0


if __name__ == "__main__":
    sys.exit(main())
