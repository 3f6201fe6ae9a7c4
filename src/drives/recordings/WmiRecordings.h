#pragma once

// Recordings of a computer's management instrumentation: one JSON file per
// computer, <folder>/<computer>.json, holding per namespace the objects of each
// class the drive reader asks for, or the failure the computer gave:
//
//   { "ComputerName": "PC1",
//     "Namespaces": {
//       "root\\CIMV2": { "Classes": {
//           "Win32_PhysicalMedia": [ { "Tag": "\\\\.\\PHYSICALDRIVE0", "SerialNumber": null } ],
//           "Win32_DiskDrive": { "QueryError": "Access denied" } } },
//       "root\\WMI": { "ConnectError": "The RPC server is unavailable" } } }
//
// Property values are null, text, integers, Booleans or arrays of integers
// ("VendorSpecific"). A namespace or class the recording lacks fails as a
// missing one does.

#include "drives/Wmi.h"

#include <QJsonObject>
#include <QString>

namespace valmora::drives::recordings {

class TWmiRecordingProvider final : public drives::TWmiStaticProvider
{
public:
    explicit TWmiRecordingProvider(QString folder);

    void Connect(const QString &server, const QString &nameSpace, const QString &user,
                 const QString &password) override;
    drives::TWmiInstances Query(const QString &server, const QString &nameSpace, const QString &user,
                             const QString &password, const QString &query) override;

    // The recording file of server; raises EWmiError when there is none.
    QString RecordingPath(const QString &server) const;

private:
    QJsonObject LoadNamespace(const QString &server, const QString &nameSpace) const;

    QString m_folder;
};

// The namespaces and classes the drive reader uses, in its order.
struct TRecordedClass
{
    QString nameSpace;
    QString className;
};
const std::vector<TRecordedClass> &DriveReaderClasses();

// Asks provider for every class of DriveReaderClasses on server and writes down
// what it answered, failures included.
QJsonObject RecordComputer(drives::TWmiProvider &provider, const QString &server, const QString &user,
                           const QString &password);

} // namespace valmora::drives::recordings
